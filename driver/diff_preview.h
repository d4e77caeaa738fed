// The "-diff" preview of one input: its unified diff (unified_diff.h).
// Nothing is produced for an input that no replacement changed.
#pragma once

#include <cstdint>

#include "driver/run_settings.h"
#include "engine/find_method.h"
#include "engine/replacement_log.h"
#include "support/core/basic_buffer.h"

namespace Velk {

// Appends the preview to out. original: the input as read; result: the
// text a rewrite would write; log: the replacements that made result;
// count: their number; colored: with the colors of diff_colors.h.
void AppendPreview(narrow_buffer& out, const narrow_buffer& name, const narrow_buffer& original,
                   const narrow_buffer& result, const ReplacementLog& log, std::uint64_t count,
                   bool colored = false);

// Replaces every match in content as the run settings ask (replace_step.h)
// and appends the preview of that change to out, colored as the settings
// say. log is the replacements' workspace. Returns the count.
std::uint64_t ReplaceAndPreview(const RUN_SETTINGS& settings, const Matcher& matcher,
                                const narrow_buffer& name, narrow_buffer& content,
                                narrow_buffer& scratch, ReplacementLog& log, narrow_buffer& out);

}  // namespace Velk
