// File mode for the finds that stream (stream_replacer.h), when the files
// are rewritten: each file is read a chunk at a time and its new contents
// are written a chunk at a time, so a file of any size is worked in a few
// chunks of memory. A file without a match costs its read and nothing
// else: the temporary file is created at the first change, with the
// unchanged start copied into it from the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/file_mode.h"
#include "driver/run_settings.h"
#include "engine/find_method.h"
#include "support/core/basic_buffer.h"

namespace Velk {

// Whether the run's files are streamed: a rewrite (not -stdout, not -diff)
// with a find that streams, where the system supports it.
bool StreamsFiles(const RUN_SETTINGS& settings, const Matcher& matcher);

// Streams file i of files, rewriting it when anything was replaced; matcher
// is the calling thread's. Returns false on a read or write failure, with
// the error lines appended to messages (the file is then left as it was,
// and count is 0).
bool StreamFile(const RUN_SETTINGS& settings, const Matcher& matcher, const CFileMode& files,
                std::size_t i, std::uint64_t& count, narrow_buffer& messages);

}  // namespace Velk
