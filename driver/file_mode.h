// File mode: the input set collected from the file patterns, each file read
// whole, and the write-back (or under "-diff" the name a preview shows) with
// its per-file report and error policy.
// Failures to read or write one file are reported on standard error with an
// "[ERROR] " line; the run goes on, or ends under "-errstop".
//
// Read and WriteBack may run on several threads at once (for different
// files): they only read the file list and return their messages instead
// of writing them, so the caller can report files in list order.
#pragma once

#include <cstdint>
#include <exception>
#include <vector>

#include "driver/arg_list.h"
#include "driver/run_settings.h"
#include "support/core/basic_buffer.h"
#include "support/fs/dir.h"

namespace Velk {

class CFileMode {
 public:
  explicit CFileMode(const RUN_SETTINGS& settings);

  // Appends the files of every pattern in command-line order; false when
  // no pattern matched any file. Side effect on the whole process: unless
  // the run writes no file ("-stdout", "-diff"), it first installs the
  // write-back signal handlers (InstallWriteBackSignalHandlers): SIGINT,
  // SIGTERM, SIGHUP and SIGQUIT then remove every live temporary file
  // before the process ends, SIGXFSZ and SIGPIPE are ignored.
  bool Collect(const CArgList& args);

  std::size_t GetFileCount() const { return files_.size(); }

  const std::vector<narrow_buffer>& GetFiles() const { return files_; }

  // Reads file i whole into content and records in identity which file that
  // was; false when the file cannot be read or is longer than the engine
  // takes, with the error line (ending in a line feed) appended to messages.
  // When the run rewrites files, the file stays locked against other rplc
  // runs until identity's file is closed (WriteBack closes it).
  bool Read(std::size_t i, narrow_buffer& content, FILE_IDENTITY& identity,
            narrow_buffer& messages) const;

  // Rewrites file i, as read into identity, with content after n
  // replacements; false when the write failed (or the file changed since),
  // with the error lines appended to messages. The count is then neither
  // reported nor added to the total.
  bool WriteBack(std::size_t i, const narrow_buffer& content, FILE_IDENTITY& identity,
                 std::uint64_t n, narrow_buffer& messages) const;

  // Appends the report of file i's failure by an exception, which ended
  // its work (out of memory, say), to messages: "[ERROR] failed processing
  // file: " and the name, then "  " and what the exception says.
  void DescribeFailure(std::size_t i, const std::exception_ptr& error,
                       narrow_buffer& messages) const;

  // Writes the per-file count line of a rewritten file, when asked for.
  void ReportCount(std::size_t i, std::uint64_t n) const;

  // File i's name in a diff: relative to the current folder when below it.
  narrow_buffer GetDiffName(std::size_t i) const;

 private:
  const RUN_SETTINGS& settings_;
  std::vector<narrow_buffer> files_;
  narrow_buffer current_folder_;  // full, ending in "/"
};

}  // namespace Velk
