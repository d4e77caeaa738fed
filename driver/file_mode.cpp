#include "driver/file_mode.h"

#include "driver/std_streams.h"
#include "driver/unified_diff.h"
#include "engine/text_limit.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/fs/write_back.h"

namespace Velk {

CFileMode::CFileMode(const RUN_SETTINGS& settings) : settings_(settings) {}

bool CFileMode::List(const CArgList& args, TFileFeed& feed) {
  // Only a rewrite of files leaves temporary files behind to clean up.
  if (!settings_.stdout_mode && !settings_.diff_mode) InstallWriteBackSignalHandlers();
  CDir base(narrow_buffer::literal("."), false, false);
  current_folder_ = base.GetPath();
  // Errors here are not caught: a missing folder or a failed listing ends
  // the run through the driver's fatal-error report, after the files
  // listed before it. A folder named by a later pattern is missing before
  // anything is worked.
  for (std::uint32_t j = 0; j < args.GetPatternCount(); ++j) base.CheckPatternFolder(args.GetPattern(j));
  bool any = false;
  bool going = true;
  const FileSink sink = [&](const narrow_buffer& name, const FolderRef& folder) {
    any = true;
    going = feed.Add(name, folder);
    return going;
  };
  for (std::uint32_t j = 0; j < args.GetPatternCount() && going; ++j)
    base.GetAllFiles(sink, args.GetPattern(j), settings_.include_subfolders, true,
                     !settings_.stop_on_error);
  return any;
}

bool CFileMode::Read(const narrow_buffer& name, const FolderRef& folder, narrow_buffer& content,
                     FILE_IDENTITY& identity, narrow_buffer& messages) const {
  try {
    CDir::ReadFile(name, folder, content, MAX_TEXT_LENGTH, &identity);
    return true;
  } catch (...) {
    messages.append("[ERROR] failed reading file: ");
    messages.append(name);
    messages.push_back('\n');
    return false;
  }
}

bool CFileMode::WriteBack(const narrow_buffer& name, const narrow_buffer& content,
                          const FILE_IDENTITY& identity, std::uint32_t n,
                          narrow_buffer& messages) const {
  // A file without a replacement is never opened for writing.
  if (n == 0) return true;
  try {
    CDir::WriteFile(name, content, false, false, &identity);
  } catch (const byExp& error) {
    messages.append("[ERROR] can't write to file: ");
    messages.append(name);
    messages.append("\n  ");
    messages.append(error.GetMessage());
    messages.push_back('\n');
    return false;
  }
  return true;
}

void CFileMode::ReportCount(const narrow_buffer& name, std::uint32_t n) const {
  if (settings_.file_counts && n != 0) {
    narrow_buffer line("\n## ");
    line.append_number(n, 10);
    line.append(" replacements in file: ");
    line.append(name);
    line.push_back('\n');
    WriteStandardOutput(line);
  }
}

narrow_buffer CFileMode::GetDiffName(const narrow_buffer& name) const {
  return DiffName(name, current_folder_);
}

}  // namespace Velk
