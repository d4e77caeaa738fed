// File mode: the input set collected from the file patterns, each file read
// whole, and the write-back (or under "-diff" the name a preview shows) with
// its per-file report and error policy.
// Failures to read or write one file are reported on standard error with an
// "[ERROR] " line; the run goes on, or ends under "-errstop".
//
// Read and WriteBack may run on several threads at once (for different
// files): they return their messages instead of writing them, so the
// caller can report files in list order.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/arg_list.h"
#include "driver/ordered_file_pool.h"
#include "driver/run_settings.h"
#include "support/core/basic_buffer.h"
#include "support/fs/dir.h"

namespace Velk {

class CFileMode {
 public:
  explicit CFileMode(const RUN_SETTINGS& settings);

  // Lists the files of every pattern in command-line order into feed, as
  // the walk finds them; false when no pattern matched any file (nothing
  // was added). Every pattern's folder is opened first, so a missing one
  // ends the run before any file is worked. A listing that fails later
  // throws after the names found before it. Side effect on the whole
  // process: unless the run writes to standard output ("-stdout"), it first
  // installs the write-back signal handlers (InstallWriteBackSignalHandlers):
  // SIGINT, SIGTERM and SIGHUP then remove a pending temporary file, and
  // SIGXFSZ is ignored.
  bool List(const CArgList& args, TFileFeed& feed);

  // Reads the file name whole into content and records in identity which
  // file that was; false when the file cannot be read or is longer than
  // the engine takes, with the error line (ending in a line feed) appended
  // to messages.
  // folder: the folder the walk found it in, when kept open.
  bool Read(const narrow_buffer& name, const FolderRef& folder, narrow_buffer& content,
            FILE_IDENTITY& identity, narrow_buffer& messages) const;

  // Rewrites the file name, as read into identity, with content after n
  // replacements; false when the write failed (or the file changed since),
  // with the error lines appended to messages. The count is then neither
  // reported nor added to the total.
  bool WriteBack(const narrow_buffer& name, const narrow_buffer& content,
                 const FILE_IDENTITY& identity, std::uint32_t n, narrow_buffer& messages) const;

  // Writes the per-file count line of a rewritten file, when asked for.
  void ReportCount(const narrow_buffer& name, std::uint32_t n) const;

  // A file's name in a diff: relative to the current folder when below it.
  narrow_buffer GetDiffName(const narrow_buffer& name) const;

 private:
  const RUN_SETTINGS& settings_;
  narrow_buffer current_folder_;  // full, ending in "/"
};

}  // namespace Velk
