#include "driver/file_mode.h"

#include "driver/std_streams.h"
#include "engine/text_limit.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/fs/write_back.h"

namespace Velk {

CFileMode::CFileMode(const RUN_SETTINGS& settings) : settings_(settings) {}

bool CFileMode::Collect(const CArgList& args) {
  // Only a rewrite of files leaves temporary files behind to clean up.
  if (!settings_.stdout_mode) InstallWriteBackSignalHandlers();
  CDir base(narrow_buffer::literal("."), false, false);
  // Errors here are not caught: a missing folder or a failed listing ends
  // the run through the driver's fatal-error report.
  for (std::uint32_t j = 0; j < args.GetPatternCount(); ++j)
    base.GetAllFiles(files_, args.GetPattern(j), settings_.include_subfolders,
                     true, !settings_.stop_on_error);
  return !files_.empty();
}

bool CFileMode::Read(std::size_t i, narrow_buffer& content) {
  try {
    CDir::ReadFile(files_[i], content, MAX_TEXT_LENGTH, &read_identity_);
    return true;
  } catch (...) {
    WriteErrorLine(narrow_buffer::literal("[ERROR] failed reading file: ") + files_[i]);
    return false;
  }
}

bool CFileMode::WriteBack(std::size_t i, const narrow_buffer& content, std::uint32_t n) {
  // A file without a replacement is never opened for writing.
  if (n == 0) return true;
  try {
    CDir::WriteFile(files_[i], content, false, false, &read_identity_);
  } catch (const byExp& error) {
    WriteErrorLine(narrow_buffer::literal("[ERROR] can't write to file: ") + files_[i]);
    WriteErrorLine(narrow_buffer::literal("  ") + error.GetMessage());
    return false;
  }
  if (settings_.file_counts) {
    narrow_buffer line("\n## ");
    line.append_number(n, 10);
    line.append(" replacements in file: ");
    line.append(files_[i]);
    line.push_back('\n');
    WriteStandardOutput(line);
  }
  return true;
}

}  // namespace Velk
