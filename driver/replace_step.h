// The replace step of one input: every match in the content buffer is
// replaced by the find method and memory mode of the run settings.
#pragma once

#include <cstdint>

#include "driver/run_settings.h"
#include "engine/find_method.h"
#include "engine/replacement_log.h"
#include "support/core/basic_buffer.h"

namespace Velk {

// The run's regular expression, compiled as its find switch asks; empty
// when the engine rejects it, reason (when given) then saying why.
Matcher CompileFind(const RUN_SETTINGS& settings, narrow_buffer* reason = nullptr);

// Replaces every match in content and returns the count. An expanding loop
// builds the result in scratch and the two buffers then exchange contents,
// so the result is in content and scratch keeps the old storage for the
// next input. Without a match content is left as it was; a literal find
// then costs one search and no copy. log, when given, receives one record
// per replacement.
std::uint64_t ReplaceAll(const RUN_SETTINGS& settings, const Matcher& matcher,
                         narrow_buffer& content, narrow_buffer& scratch,
                         ReplacementLog* log = nullptr);

// ReplaceAll for a preview or a review, which need the input next to the
// result: log receives one record per replacement (after being cleared)
// and original the input as read. original shares storage with scratch or
// with the text read; release it before the next input, so that scratch
// is reused and the next text is not copied.
std::uint64_t ReplaceKeepingInput(const RUN_SETTINGS& settings, const Matcher& matcher,
                                  narrow_buffer& content, narrow_buffer& scratch,
                                  narrow_buffer& original, ReplacementLog& log);

}  // namespace Velk
