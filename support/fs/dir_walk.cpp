// CDir: file and sub-folder searches.
#include <utility>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/fs/wildcard.h"
#include "support/os/dir.h"
#include "support/os/path_rules.h"

namespace Velk {

namespace {

const narrow_buffer kAll = narrow_buffer::literal("*");
const narrow_buffer kSeparator = narrow_buffer::literal(os::path_separator);

bool IsDots(const char* name, std::size_t length) {
  return name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.'));
}

// Whether the folder listing already holds only the names that match.
bool Matches(const narrow_buffer& pattern, const char* name, std::size_t length) {
  return os::system_matches_wildcards() ||
         MatchWildcard(pattern, name, std::uint32_t(length));
}

narrow_buffer LastEntry(const FileList& list) {
  return list.empty() ? narrow_buffer() : list.back();
}

narrow_buffer Join(const narrow_buffer& folder, const char* name, std::size_t length) {
  narrow_buffer entry;
  entry.reserve_grow(size_t(folder.length()) + length + 2);
  entry.append(folder);
  entry.append(kSeparator);
  entry.append(name, narrow_buffer::size_type(length));
  return entry;
}

}  // namespace

// Splits pattern into its folder and name parts. When the folder part is
// not "./", sub is opened on it (an absolute folder as it stands, a
// relative one below this folder) and true is returned. pattern becomes
// the name part; an empty name means "*".
bool CDir::__SplitPattern(narrow_buffer& pattern, CDir& sub) const {
  narrow_buffer folder = pattern;
  GetPathDir(folder);
  narrow_buffer name = pattern;
  GetPathFilename(name);
  pattern = name.empty() ? kAll : name;
  if (folder == narrow_buffer::literal(".") + kSeparator) return false;
  if (os::is_absolute_path(folder.c_str(), folder.length()))
    sub.Open(folder, false, false);
  else
    sub = CDir(*this, folder, false);
  return true;
}

std::uint32_t CDir::GetAllFiles(FileList& list, narrow_buffer pattern,
                                bool recursive, bool includeHidden,
                                bool ignoreErrors) {
  if (pattern.empty()) {
    pattern = kAll;
  } else {
    CDir sub;
    if (__SplitPattern(pattern, sub))
      return sub.GetAllFiles(list, pattern, recursive, includeHidden, ignoreErrors);
  }

  FileList folders;
  folders.push_back(path_.substr(0, path_.length() - 1));
  if (recursive)
    GetAllSubDirs(folders, kAll, true, includeHidden, false, ignoreErrors);

  for (const narrow_buffer& folder : folders) {
    os::dir_reader reader;
    // A folder that cannot be listed has no match, as an empty search has.
    if (reader.open(folder.empty() ? os::path_separator : folder.c_str(), pattern.c_str()) != 0)
      continue;
    const char* name;
    std::size_t length;
    int error;
    while (reader.next(name, length, error)) {
      if (!Matches(pattern, name, length)) continue;
      if (!includeHidden && reader.current_hidden()) continue;
      if (reader.current_type() != os::entry_type::file) continue;
      list.push_back(Join(folder, name, length));
    }
    const char* failure = "CDir::GetAllFiles - error find files";
    const char* count_label = "total matched files";
    if (error == 0) {
      error = reader.close();
      failure = "CDir::GetAllFiles - error finish files finding";
      count_label = "total matched file";
    }
    if (error != 0)
      throw dirExp(19, message_builder(failure)
                           .detail("base dir", path_)
                           .detail("file pattern", pattern)
                           .detail("the last matched file", LastEntry(list))
                           .detail(count_label, std::uint64_t(list.size()))
                           .os_error("system error no", "system error desc", error)
                           .str());
  }
  return std::uint32_t(list.size());
}

std::uint32_t CDir::GetAllSubDirs(FileList& list, narrow_buffer pattern,
                                  bool recursive, bool includeHidden,
                                  bool includeDots, bool ignoreErrors) {
  if (pattern.empty()) {
    pattern = kAll;
  } else {
    CDir sub;
    if (__SplitPattern(pattern, sub))
      return sub.GetAllSubDirs(list, pattern, recursive, includeHidden,
                               includeDots, ignoreErrors);
  }

  os::dir_reader reader;
  int error = reader.open(path_.c_str(), pattern.c_str());
  if (error != 0)
    throw dirExp(20, message_builder("CDir::GetAllSubDirs - error init first find")
                         .detail("base dir", path_)
                         .detail("dir pattern", pattern)
                         .os_error("system error no", "system error desc", error)
                         .str());

  // The matching names are collected and the folder closed before any
  // descent, so a deep tree holds one open folder at a time.
  FileList names;
  const char* name;
  std::size_t length;
  while (reader.next(name, length, error)) {
    if (!Matches(pattern, name, length)) continue;
    if (reader.current_type() != os::entry_type::directory) continue;
    const bool dots = IsDots(name, length);
    if (dots && !includeDots) continue;
    if (!dots && !includeHidden && reader.current_hidden()) continue;
    names.push_back(narrow_buffer(name, narrow_buffer::size_type(length)));
  }
  const char* failure = "CDir::GetAllSubDirs - error find subdirs";
  bool close_failed = false;
  if (error == 0) {
    error = reader.close();
    failure = "CDir::GetAllSubDirs - error finish subdirs finding";
    close_failed = error != 0;
  }

  for (const narrow_buffer& each : names) {
    list.push_back(path_ + each);
    if (!recursive || IsDots(each.c_str(), each.length())) continue;
    try {
      GetAllSubDirs(list, each + kSeparator + pattern, true, includeHidden, includeDots,
                    ignoreErrors);
    } catch (const byExp&) {
      // Under the error-continue policy only this sub-tree is lost.
      if (!ignoreErrors) throw;
    }
  }

  if (error != 0)
    throw dirExp(20, message_builder(failure)
                         .label_width(21)
                         .detail("base dir", path_)
                         .detail("dir pattern", pattern)
                         .detail(close_failed ? "the last matched file" : "the last matched dir",
                                 LastEntry(list))
                         .detail(close_failed ? "total matched file" : "total matched dirs",
                                 std::uint64_t(list.size()))
                         .os_error("system error no", "system error desc", error)
                         .str());
  return std::uint32_t(list.size());
}

}  // namespace Velk
