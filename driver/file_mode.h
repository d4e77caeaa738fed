// File mode: the input set collected from the file patterns, each file read
// whole, and the write-back with its per-file report and error policy.
// Failures to read or write one file are reported on standard error with an
// "[ERROR] " line; the run goes on, or ends under "-errstop".
#pragma once

#include <cstdint>
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
  // the run writes to standard output ("-stdout"), it first installs the
  // write-back signal handlers (InstallWriteBackSignalHandlers): SIGINT,
  // SIGTERM and SIGHUP then remove a pending temporary file, and SIGXFSZ is
  // ignored.
  bool Collect(const CArgList& args);

  std::size_t GetFileCount() const { return files_.size(); }

  // Reads file i whole into content; false (after the error line) when the
  // file cannot be read or is longer than the engine takes.
  bool Read(std::size_t i, narrow_buffer& content);

  // Rewrites file i with content after n replacements and writes the count
  // line; false (after the error lines) when the write failed, in which
  // case the count is not added to the total.
  bool WriteBack(std::size_t i, const narrow_buffer& content, std::uint32_t n);

 private:
  const RUN_SETTINGS& settings_;
  std::vector<narrow_buffer> files_;
  FILE_IDENTITY read_identity_;  // of the file read last, for its write-back
};

}  // namespace Velk
