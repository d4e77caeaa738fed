#include "driver/file_mode.h"

#include "driver/exception_text.h"
#include "driver/std_streams.h"
#include "driver/unified_diff.h"
#include "engine/text_limit.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/fs/write_back.h"

namespace Velk {

CFileMode::CFileMode(const RUN_SETTINGS& settings) : settings_(settings) {}

bool CFileMode::Collect(const CArgList& args) {
  // Only a rewrite of files leaves temporary files behind to clean up.
  if (!settings_.stdout_mode && !settings_.diff_mode) InstallWriteBackSignalHandlers();
  CDir base(narrow_buffer::literal("."), false, false);
  current_folder_ = base.GetPath();
  // Errors here are not caught: a missing folder or a failed listing ends
  // the run through the driver's fatal-error report.
  for (std::uint32_t j = 0; j < args.GetPatternCount(); ++j)
    base.GetAllFiles(files_, args.GetPattern(j), settings_.include_subfolders,
                     true, !settings_.stop_on_error);
  return !files_.empty();
}

bool CFileMode::Read(std::size_t i, narrow_buffer& content, FILE_IDENTITY& identity,
                     narrow_buffer& messages) const {
  try {
    // A file to be rewritten stays locked until its write-back.
    CDir::ReadFile(files_[i], content, MAX_TEXT_LENGTH, &identity,
                   !settings_.stdout_mode && !settings_.diff_mode);
    return true;
  } catch (const byExp& error) {
    // The reason on the next line, as for a failed write.
    messages.append("[ERROR] failed reading file: ");
    messages.append(files_[i]);
    messages.append("\n  ");
    messages.append(error.GetMessage());
    messages.push_back('\n');
    return false;
  }
}

bool CFileMode::WriteBack(std::size_t i, const narrow_buffer& content,
                          FILE_IDENTITY& identity, std::uint64_t n,
                          narrow_buffer& messages) const {
  // A file without a replacement is never opened for writing.
  if (n == 0) return true;
  try {
    CDir::WriteFile(files_[i], content, false, false, &identity);
  } catch (const byExp& error) {
    messages.append("[ERROR] can't write to file: ");
    messages.append(files_[i]);
    messages.append("\n  ");
    messages.append(error.GetMessage());
    messages.push_back('\n');
    return false;
  }
  return true;
}

void CFileMode::DescribeFailure(std::size_t i, const std::exception_ptr& error,
                                narrow_buffer& messages) const {
  messages.append("[ERROR] failed processing file: ");
  messages.append(files_[i]);
  messages.append("\n  ");
  messages.append(DescribeException(error));
  messages.push_back('\n');
}

void CFileMode::ReportCount(std::size_t i, std::uint64_t n) const {
  if (settings_.file_counts && n != 0) {
    narrow_buffer line("\n## ");
    line.append_number(n, 10);
    line.append(" replacements in file: ");
    line.append(files_[i]);
    line.push_back('\n');
    WriteStandardOutput(line);
  }
}

narrow_buffer CFileMode::GetDiffName(std::size_t i) const {
  return DiffName(files_[i], current_folder_);
}

}  // namespace Velk
