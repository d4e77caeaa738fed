// Stdio mode for the finds that stream (stream_replacer.h): standard input
// is read a chunk at a time and each chunk's result is written to standard
// output at once, so an input of any size is filtered in a few chunks of
// memory. The bytes written are those of the whole-text run, and so is
// the preview of "-diff".
#pragma once

#include <cstdint>

#include "driver/run_settings.h"
#include "engine/find_method.h"

namespace Velk {

// Filters standard input to standard output; returns the replacement count.
std::uint64_t StreamStandardInput(const RUN_SETTINGS& settings, const Matcher& matcher);

// Writes the "-diff" preview of standard input to standard output, each
// hunk as soon as it is complete; returns the replacement count.
std::uint64_t PreviewStandardInput(const RUN_SETTINGS& settings, const Matcher& matcher);

}  // namespace Velk
