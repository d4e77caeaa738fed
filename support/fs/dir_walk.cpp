// CDir: file and sub-folder searches.
//
// A search reads each folder once, through a handle: the files (or
// sub-folders) whose names match are appended, then with recursion each
// sub-folder is opened from its parent's handle and searched the same way.
// Text paths are only built for the names reported, never to reach a
// folder, so depth and unusual names play no part. The resulting order is
// a folder's matches, then its sub-folders' trees in the order the system
// lists them (depth-first pre-order).
#include <cerrno>
#include <utility>
#include <vector>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/fs/walk_filter.h"
#include "support/fs/wildcard.h"
#include "support/os/dir.h"
#include "support/os/path_rules.h"

namespace Velk {

namespace {

const narrow_buffer kAll = narrow_buffer::literal("*");
const narrow_buffer kSeparator = narrow_buffer::literal(os::path_separator);
const narrow_buffer kPathDelimiters = narrow_buffer::literal(os::path_delimiters);

bool IsDots(const char* name, std::size_t length) {
  return name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.'));
}

bool IsHidden(const char* name, std::size_t length) {
  return name[0] == '.' && !IsDots(name, length);
}

// The folders in which version-control systems keep their own data: a
// recursive search never enters them, so a replace over a working tree
// cannot rewrite a repository's index, objects or logs.
bool IsVersionControlFolder(const narrow_buffer& name) {
  for (const char* each : {".git", ".hg", ".svn", ".bzr", "_darcs", "CVS"})
    if (name == narrow_buffer::literal(each)) return true;
  return false;
}

bool HasWildcard(const narrow_buffer& name) {
  return name.find_first_of(narrow_buffer::literal("*?")) != narrow_buffer::npos;
}

narrow_buffer LastEntry(const FileList& list) {
  return list.empty() ? narrow_buffer() : list.back();
}

narrow_buffer Join(const narrow_buffer& folder, const char* name, std::size_t length) {
  narrow_buffer entry;
  entry.reserve_grow(size_t(folder.length()) + length + 1);
  entry.append(folder);
  entry.append(name, narrow_buffer::size_type(length));
  return entry;
}

// One search: what it looks for and how it treats what it meets.
struct SEARCH {
  FileList& list;
  const narrow_buffer& pattern;
  bool want_files;  // files (GetAllFiles) or sub-folders (GetAllSubDirs)
  bool recursive;
  bool includeHidden;
  bool includeDots;
  bool ignoreErrors;
  TWalkFilter* filter;  // consulted by a recursive search; may be null
};

// Tells the filter which folder the search is in, for as long as it is.
struct FILTER_SCOPE {
  TWalkFilter* filter;
  FILTER_SCOPE(TWalkFilter* f, const narrow_buffer& folder) : filter(f) {
    if (filter) filter->EnterFolder(folder);
  }
  ~FILTER_SCOPE() {
    if (filter) filter->LeaveFolder();
  }
  bool Skips(const narrow_buffer& path, bool is_folder) const {
    return filter && filter->Skips(path, is_folder);
  }
};

[[noreturn]] void ThrowOpenFailed(const narrow_buffer& folder, const narrow_buffer& pattern,
                                  int error) {
  throw dirExp(20, message_builder("CDir::GetAllSubDirs - error init first find")
                       .detail("base dir", folder)
                       .detail("dir pattern", pattern)
                       .os_error("system error no", "system error desc", error)
                       .str());
}

[[noreturn]] void ThrowListFailed(const SEARCH& search, const narrow_buffer& folder, int error,
                                  bool on_close) {
  if (search.want_files)
    throw dirExp(19, message_builder(on_close ? "CDir::GetAllFiles - error finish files finding"
                                              : "CDir::GetAllFiles - error find files")
                         .detail("base dir", folder)
                         .detail("file pattern", search.pattern)
                         .detail("the last matched file", LastEntry(search.list))
                         .detail(on_close ? "total matched file" : "total matched files",
                                 std::uint64_t(search.list.size()))
                         .os_error("system error no", "system error desc", error)
                         .str());
  throw dirExp(20, message_builder(on_close ? "CDir::GetAllSubDirs - error finish subdirs finding"
                                            : "CDir::GetAllSubDirs - error find subdirs")
                       .label_width(21)
                       .detail("base dir", folder)
                       .detail("dir pattern", search.pattern)
                       .detail(on_close ? "the last matched file" : "the last matched dir",
                               LastEntry(search.list))
                       .detail(on_close ? "total matched file" : "total matched dirs",
                               std::uint64_t(search.list.size()))
                       .os_error("system error no", "system error desc", error)
                       .str());
}

// Searches the folder open in reader, whose full path (ending in "/") is
// folder. The reader stays open until the folder's whole tree is done: its
// sub-folders are opened from it.
void SearchFolder(const SEARCH& search, os::dir_reader& reader, const narrow_buffer& folder) {
  struct SUB_FOLDER {
    narrow_buffer name;
    bool enter;
  };
  const FILTER_SCOPE filter(search.recursive ? search.filter : nullptr, folder);
  FileList files;
  std::vector<SUB_FOLDER> folders;  // in listing order
  const char* name;
  std::size_t length;
  int error;
  while (reader.next(name, length, error)) {
    const bool dots = IsDots(name, length);
    if (dots && (search.want_files || !search.includeDots)) continue;
    if (!search.includeHidden && reader.current_hidden()) continue;
    const bool matches =
        MatchWildcard(search.pattern, name, std::uint32_t(length), os::names_ignore_case());
    // Only a recursive search for files needs the type of every entry.
    if (!matches && !(search.recursive && search.want_files)) continue;
    const os::entry_type type = reader.current_type();
    if (type == os::entry_type::directory_link) continue;
    if (type == os::entry_type::file) {
      if (search.want_files && matches) {
        narrow_buffer file = Join(folder, name, length);
        if (!filter.Skips(file, false)) files.push_back(std::move(file));
      }
      continue;
    }
    narrow_buffer entry(name, narrow_buffer::size_type(length));
    if (search.recursive && IsVersionControlFolder(entry)) continue;
    if (filter.Skips(folder + entry, true)) continue;
    if (search.want_files) {
      if (search.recursive) folders.push_back({std::move(entry), true});
    } else {
      folders.push_back({std::move(entry), search.recursive && !dots});
    }
  }
  if (error != 0) ThrowListFailed(search, folder, error, false);

  for (narrow_buffer& each : files) search.list.push_back(std::move(each));
  for (const SUB_FOLDER& sub : folders) {
    // A search for sub-folders reports each before its own tree.
    if (!search.want_files) search.list.push_back(folder + sub.name);
    if (!sub.enter) continue;
    const narrow_buffer sub_path = folder + sub.name + kSeparator;
    os::dir_reader child;
    try {
      const int open_error = child.open_sub(reader, sub.name.c_str());
      // A link that replaced the folder since it was listed is left alone.
      if (open_error == ELOOP) continue;
      if (open_error != 0)
        ThrowOpenFailed(sub_path, search.want_files ? kAll : search.pattern, open_error);
      SearchFolder(search, child, sub_path);
    } catch (const byExp&) {
      // Under the error-continue policy only this sub-tree is lost.
      if (!search.ignoreErrors) throw;
    }
  }
  error = reader.close();
  if (error != 0) ThrowListFailed(search, folder, error, true);
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

// A name without wildcards names one path: one status call tells whether it
// is a file to list as it stands. Folders, hidden names that are not
// wanted and names that cannot be reached take the general way, which
// lists a folder's files and reports a missing folder.
bool CDir::__FindNamedFile(FileList& list, const narrow_buffer& pattern, bool includeHidden) const {
  if (pattern.ends_with_any(kPathDelimiters)) return false;
  const narrow_buffer::size_type slash = pattern.find_last_of(kPathDelimiters);
  const narrow_buffer name = slash == narrow_buffer::npos ? pattern : pattern.substr(slash + 1);
  if (HasWildcard(name) || (!includeHidden && IsHidden(name.c_str(), name.length())))
    return false;
  const narrow_buffer full = __Resolve(pattern);
  os::entry_type type;
  if (os::path_type(full.c_str(), type) != 0 || type != os::entry_type::file) return false;
  list.push_back(full);
  return true;
}

std::uint32_t CDir::GetAllFiles(FileList& list, narrow_buffer pattern,
                                bool recursive, bool includeHidden,
                                bool ignoreErrors, TWalkFilter* filter) {
  if (pattern.empty()) {
    pattern = kAll;
  } else {
    if (!recursive && __FindNamedFile(list, pattern, includeHidden))
      return std::uint32_t(list.size());
    CDir sub;
    if (__SplitPattern(pattern, sub))
      return sub.GetAllFiles(list, pattern, recursive, includeHidden, ignoreErrors, filter);
  }

  const SEARCH search{list, pattern, true, recursive, includeHidden, false, ignoreErrors, filter};
  os::dir_reader reader;
  const int error = reader.open(path_.c_str());
  if (error != 0) {
    // Without recursion a folder that cannot be listed has no match, as an
    // empty search has; a recursive search reports it.
    if (recursive) ThrowOpenFailed(path_, kAll, error);
    return std::uint32_t(list.size());
  }
  SearchFolder(search, reader, path_);
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

  const SEARCH search{list, pattern, false, recursive, includeHidden, includeDots, ignoreErrors,
                      nullptr};
  os::dir_reader reader;
  const int error = reader.open(path_.c_str());
  if (error != 0) ThrowOpenFailed(path_, pattern, error);
  SearchFolder(search, reader, path_);
  return std::uint32_t(list.size());
}

}  // namespace Velk
