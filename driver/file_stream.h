// File mode for the finds that stream (stream_replacer.h): a file larger
// than a chunk is read a chunk at a time and its new contents are written
// a chunk at a time (to the file, or under "-stdout" to standard output),
// or under "-diff" its preview hunk by hunk, so a file of any size is
// worked in a few chunks of memory. It is opened with every check of a
// whole read (CFileMode::Open) and its first block decides the binary
// rule as a whole read's would. A file without a match costs its reads and
// nothing else: the temporary file is created at the first change, with
// the unchanged start copied into it from the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>

#include "driver/file_mode.h"
#include "driver/ordered_file_pool.h"
#include "driver/run_settings.h"
#include "driver/stream_pump.h"
#include "engine/find_method.h"
#include "support/fs/streamed_file.h"

namespace Velk {

// The size from which a streamed file's writes overlap its reads and
// search: below it the thread's start and hand-overs save next to
// nothing.
constexpr std::uint64_t STREAM_OVERLAP_BYTES = 8 * 1024 * 1024;

// Whether the run's files stream: a rewrite, a preview ("-diff") or a
// result for standard output ("-stdout"), not a "-review", with a find that
// streams, where the system supports it.
bool StreamsFiles(const RUN_SETTINGS& settings, const Matcher& matcher);

// Thrown out of a streamed file's output when standard output fails.
struct OUTPUT_FAILED {
  std::exception_ptr error;
};
// Thrown out of a streamed file's output when the run stopped before the
// file's turn to write came.
struct TURN_LOST {};

// Reads and replaces the file attached to stream (opened by
// CFileMode::Open), writing its new contents to the temporary file from the
// first change on; matcher is the calling thread's. Fills result as a
// Prepare does: its count; left_alone for a binary file a listing found
// (unless "-binary"); skipped when interrupted returns true between two
// chunks; failed with the error lines in its messages. needs_commit is set
// when the new contents wait for CommitStreamedFile; otherwise the file is
// let go. A line too long for the engine throws std::length_error. chunk
// is STREAM_CHUNK except in tests. A file of overlap_from bytes or more is
// written behind (write_behind.h) when there is a second processor; 0
// (tests) writes every file behind, on any machine.
void PrepareStreamedFile(const RUN_SETTINGS& settings, const Matcher& matcher,
                         const CFileMode& files, CStreamedFile& stream, FILE_JOB_RESULT& result,
                         const std::function<bool()>& interrupted,
                         std::size_t chunk = STREAM_CHUNK,
                         std::uint64_t overlap_from = STREAM_OVERLAP_BYTES);

// Under "-diff" or "-stdout": reads and replaces the file attached to
// stream (opened unlocked by CFileMode::Open) and writes its preview or its
// result to standard output as it is made, hunk by hunk or chunk by chunk,
// once await_turn has returned true (every earlier file has been reported;
// a file with nothing to write never waits). Fills result as
// PrepareStreamedFile does, and then lets the file go; skipped when the
// run stopped before the file's turn came; output_error when standard
// output failed. What was written before a read failure stays written.
void OutputStreamedFile(const RUN_SETTINGS& settings, const Matcher& matcher,
                        const CFileMode& files, CStreamedFile& stream, FILE_JOB_RESULT& result,
                        const std::function<bool()>& await_turn,
                        std::size_t chunk = STREAM_CHUNK);

// Replaces the file by the new contents PrepareStreamedFile wrote; on a
// failure (or a change since the file was opened) sets result.failed, with
// the error lines in its messages.
void CommitStreamedFile(const CFileMode& files, CStreamedFile& stream, FILE_JOB_RESULT& result);

}  // namespace Velk
