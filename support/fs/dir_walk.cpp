// CDir: file and sub-folder searches, walked as described in dir_walk.h.
//
// Each folder is listed whole through its handle before the walk goes
// down: its matches go to the sink, its sub-folders are kept by name. The
// walk then keeps one level per folder on the way down (an explicit stack,
// so depth costs no call stack), opens each sub-folder from its parent's
// handle, and closes the handles of levels far above the current one;
// such a level is opened again from its child's handle when the walk comes
// back to it. Text paths are only built for the names reported, never to
// reach a folder, so depth and unusual names play no part.
#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/core/ascii.h"
#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/fs/dir_walk.h"
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

narrow_buffer Join(const narrow_buffer& folder, const char* name, std::size_t length) {
  narrow_buffer entry;
  entry.reserve_grow(size_t(folder.length()) + length + 1);
  entry.append(folder);
  entry.append(name, narrow_buffer::size_type(length));
  return entry;
}

// The files a folder's listing found, held until the listing ends.
struct PENDING_FILES {
  struct FILE {
    narrow_buffer::size_type at;
    std::size_t length;
    os::file_id identity;
  };
  narrow_buffer names;  // one after another
  std::vector<FILE> files;

  void Add(const char* name, std::size_t length, const os::file_id& identity) {
    files.push_back({names.length(), length, identity});
    names.append(name, narrow_buffer::size_type(length));
  }
  void Clear() {
    names.clear();
    files.clear();
  }
};

// One search: what it looks for, how it treats what it meets, and what it
// has found so far (for the messages).
struct SEARCH {
  TWalkSink& sink;
  const narrow_buffer& pattern;
  bool want_files;  // files (GetAllFiles) or sub-folders (GetAllSubDirs)
  bool recursive;
  bool includeHidden;
  bool includeDots;
  std::uint64_t found = 0;
  narrow_buffer last;  // the last name reported
  TWalkFilter* filter = nullptr;  // consulted by a recursive search
  PENDING_FILES pending;  // a folder's files, read but not yet reported
};

bool Skips(const SEARCH& search, const narrow_buffer& path, bool is_folder) {
  return search.filter && search.filter->Skips(path, is_folder);
}

void Report(SEARCH& search, WALK_ENTRY& entry) {
  search.last = entry.path;
  ++search.found;
  search.sink.Found(entry);
}

// Hands a folder's failure to the sink, which goes on or ends the walk.
void Fail(SEARCH& search, const narrow_buffer& folder, const dirExp& error) {
  if (!search.sink.FolderFailed(folder, error)) throw error;
}

dirExp OpenFailed(const narrow_buffer& folder, const narrow_buffer& pattern, int error) {
  return dirExp(20, message_builder("CDir::GetAllSubDirs - error init first find")
                        .detail("base dir", folder)
                        .detail("dir pattern", pattern)
                        .os_error("system error no", "system error desc", error)
                        .str());
}

dirExp ListFailed(const SEARCH& search, const narrow_buffer& folder, int error, bool on_close) {
  if (search.want_files)
    return dirExp(19, message_builder(on_close ? "CDir::GetAllFiles - error finish files finding"
                                               : "CDir::GetAllFiles - error find files")
                          .detail("base dir", folder)
                          .detail("file pattern", search.pattern)
                          .detail("the last matched file", search.last)
                          .detail(on_close ? "total matched file" : "total matched files",
                                  search.found)
                          .os_error("system error no", "system error desc", error)
                          .str());
  return dirExp(20, message_builder(on_close ? "CDir::GetAllSubDirs - error finish subdirs finding"
                                             : "CDir::GetAllSubDirs - error find subdirs")
                        .label_width(21)
                        .detail("base dir", folder)
                        .detail("dir pattern", search.pattern)
                        .detail(on_close ? "the last matched file" : "the last matched dir",
                                search.last)
                        .detail(on_close ? "total matched file" : "total matched dirs",
                                search.found)
                        .os_error("system error no", "system error desc", error)
                        .str());
}

dirExp ReturnFailed(const narrow_buffer& folder, const char* why) {
  return dirExp(20, message_builder("CDir::GetAllFiles - error return to folder")
                        .detail("base dir", folder)
                        .detail("error desc", why)
                        .str());
}

std::atomic<int> shared_folders{0};

// A handle of its own on the folder reader has open, for the files found
// there; none beyond the limit, or where the system has none to give.
FolderRef ShareFolder(const os::dir_reader& reader) {
  // Shared folders take no handle the walk itself or the files' reads and
  // write-backs may need: with few handles allowed, none is kept.
  static const int limit = [] {
    const std::size_t allowed = os::handle_limit();
    const std::size_t reserved = 4 * kWalkOpenFolderLimit;
    return allowed <= reserved ? 0 : int(std::min<std::size_t>(kSharedFolderLimit, (allowed - reserved) / 4));
  }();
  if (shared_folders.load() >= limit) return FolderRef();
  int error;
  const os::folder_handle handle = reader.share_folder(error);
  if (handle == os::invalid_folder_handle) return FolderRef();
  return std::make_shared<const OPEN_FOLDER>(handle);
}

// One folder on the way down: its handle (closed when far above the
// current level), which folder it is, and the sub-folders still to enter.
struct LEVEL {
  struct SUB_FOLDER {
    narrow_buffer name;
    bool enter;
  };
  os::dir_reader reader;
  os::file_id id;
  narrow_buffer path;  // full, ending in "/"
  std::vector<SUB_FOLDER> subs;  // in listing order
  std::size_t next = 0;
  bool filtered = false;  // the filter was told of this folder
};

// Lists the folder open in level: its matches go to the sink, its
// sub-folders to level.subs.
void ListFolder(SEARCH& search, LEVEL& level) {
  if (search.filter) {
    search.filter->EnterFolder(level.path);
    level.filtered = true;
  }
  const char* name;
  std::size_t length;
  int error;
  // The folder is shared with the files found in it, from the first one on.
  FolderRef shared;
  bool share = search.want_files && search.sink.WantsFolders();
  // The whole folder is read before its files go to the sink, with other
  // runs' renames in it held back meanwhile: a name renamed over during the
  // reading could be missed. The sink may work a file at once, renaming in
  // this very folder, so it is never called under the lock.
  // Kept compact meanwhile (a folder may hold millions of files): the
  // names one after another, each with its place and identity.
  PENDING_FILES& found = search.pending;
  found.Clear();
  struct listing_held {
    os::dir_reader& reader;
    ~listing_held() { reader.end_listing(); }
  } held{level.reader};
  level.reader.begin_listing();
  while (level.reader.next(name, length, error)) {
    const bool dots = IsDots(name, length);
    if (dots && (search.want_files || !search.includeDots)) continue;
    if (!search.includeHidden && level.reader.current_hidden()) continue;
    const bool matches =
        MatchWildcard(search.pattern, name, std::uint32_t(length), os::names_ignore_case());
    // Only a recursive search for files needs the type of every entry.
    if (!matches && !(search.recursive && search.want_files)) continue;
    const os::entry_type type = level.reader.current_type();
    if (type == os::entry_type::file) {
      if (!search.want_files || !matches) continue;
      if (share) {
        share = false;
        shared = ShareFolder(level.reader);
      }
      found.Add(name, length, level.reader.current_id());
      continue;
    }
    if (type != os::entry_type::directory) continue;  // links and the like
    narrow_buffer sub(name, narrow_buffer::size_type(length));
    if (search.recursive && IsVersionControlFolder(sub)) continue;
    if (Skips(search, level.path + sub, true)) continue;
    if (search.want_files) {
      if (search.recursive) level.subs.push_back({std::move(sub), true});
    } else {
      level.subs.push_back({std::move(sub), search.recursive && !dots});
    }
  }
  held.reader.end_listing();
  for (const PENDING_FILES::FILE& file : found.files) {
    WALK_ENTRY entry;
    entry.path = Join(level.path, found.names.c_str() + file.at, file.length);
    if (Skips(search, entry.path, false)) continue;
    entry.name_offset = level.path.length();
    entry.identity = file.identity;
    entry.folder = shared;
    Report(search, entry);
  }
  found.Clear();
  if (error != 0) Fail(search, level.path, ListFailed(search, level.path, error, false));
}

void CloseLevel(SEARCH& search, LEVEL& level) {
  if (!level.reader.is_open()) return;
  const int error = level.reader.close();
  if (error != 0) Fail(search, level.path, ListFailed(search, level.path, error, true));
}

// Walks the tree below the folder root (full, ending in "/"), with the
// levels on stack; the filter is told of every folder it leaves, also when
// the walk ends by an exception.
void WalkLevels(SEARCH& search, const narrow_buffer& root,
                std::vector<std::unique_ptr<LEVEL>>& stack) {
  std::size_t first_open = 0;  // levels from here down have open handles
  {
    std::unique_ptr<LEVEL> level(new LEVEL);
    level->path = root;
    const int error = level->reader.open(root.c_str());
    if (error != 0) {
      Fail(search, root, OpenFailed(root, search.want_files ? kAll : search.pattern, error));
      return;
    }
    level->id = level->reader.identity();
    stack.push_back(std::move(level));
    ListFolder(search, *stack.back());
  }
  // The matching sub-folders of a search for folders are reported even
  // without recursion; a search for files without recursion is done.
  if (search.want_files && !search.recursive) {
    CloseLevel(search, *stack.back());
    return;
  }

  while (!stack.empty()) {
    LEVEL& top = *stack.back();
    if (top.next == top.subs.size()) {
      // Going up: a parent whose handle was closed is opened again from
      // this folder's, and must still be the folder it was. One that
      // cannot be is reported when it has sub-folders left to enter.
      if (stack.size() >= 2 && !stack[stack.size() - 2]->reader.is_open()) {
        LEVEL& parent = *stack[stack.size() - 2];
        const bool pending = parent.next < parent.subs.size();
        int error = 0;
        const char* why = nullptr;
        if (!top.reader.is_open()) {
          why = "a folder below it could not be returned from";
        } else if ((error = parent.reader.open_parent(top.reader)) == 0 && parent.id.known &&
                   !(parent.reader.identity() == parent.id)) {
          parent.reader.close();
          why = "it was moved or replaced while its sub-folders were searched";
        }
        if (pending && error != 0) Fail(search, parent.path, OpenFailed(parent.path, kAll, error));
        else if (pending && why) Fail(search, parent.path, ReturnFailed(parent.path, why));
        if (!parent.reader.is_open()) parent.next = parent.subs.size();
        first_open = stack.size() - 2;
      }
      CloseLevel(search, top);
      if (top.filtered) search.filter->LeaveFolder();
      stack.pop_back();
      continue;
    }

    const LEVEL::SUB_FOLDER& sub = top.subs[top.next++];
    if (!search.want_files) {
      // A search for sub-folders reports each before its own tree.
      WALK_ENTRY entry;
      entry.path = top.path + sub.name;
      entry.name_offset = top.path.length();
      Report(search, entry);
    }
    if (!sub.enter) continue;
    std::unique_ptr<LEVEL> child(new LEVEL);
    child->path = top.path + sub.name + kSeparator;
    const int error = child->reader.open_sub(top.reader, sub.name.c_str());
    if (error != 0) {
      // A link or a file that took the folder's name since it was listed
      // is left alone, as a link listed in its place would be.
      if (!os::is_no_folder_error(error))
        Fail(search, child->path,
             OpenFailed(child->path, search.want_files ? kAll : search.pattern, error));
      continue;
    }
    child->id = child->reader.identity();
    stack.push_back(std::move(child));
    ListFolder(search, *stack.back());
    if (stack.size() - first_open > kWalkOpenFolderLimit) {
      CloseLevel(search, *stack[first_open]);
      ++first_open;
    }
  }
}

void Walk(SEARCH& search, const narrow_buffer& root) {
  std::vector<std::unique_ptr<LEVEL>> stack;
  try {
    WalkLevels(search, root, stack);
  } catch (...) {
    for (auto level = stack.rbegin(); level != stack.rend(); ++level)
      if ((*level)->filtered) search.filter->LeaveFolder();
    throw;
  }
}

// Fills a FileList; folders that fail are skipped or thrown.
class CListSink : public TWalkSink {
 public:
  CListSink(FileList& list, bool ignore_errors) : list_(list), ignore_errors_(ignore_errors) {}
  void Found(WALK_ENTRY& entry) override { list_.push_back(std::move(entry.path)); }
  bool FolderFailed(const narrow_buffer&, const dirExp&) override { return ignore_errors_; }

 private:
  FileList& list_;
  bool ignore_errors_;
};

}  // namespace

OPEN_FOLDER::OPEN_FOLDER(os::folder_handle folder) : handle(folder) { ++shared_folders; }

OPEN_FOLDER::~OPEN_FOLDER() {
  os::close_folder(handle);
  --shared_folders;
}

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
// is a file (a symbolic link followed) to report as it stands, and, for a
// name in this folder where names are bytes, that nothing has the name (a
// listing would find no regular file by it either: at most a dangling
// link). Folders, hidden names that are not wanted and names that cannot be
// reached otherwise take the general way, which lists a folder's files and
// reports a missing folder.
int CDir::__FindNamedFile(TWalkSink& sink, const narrow_buffer& pattern,
                          bool includeHidden) const {
  if (pattern.ends_with_any(kPathDelimiters)) return -1;
  const narrow_buffer::size_type slash = pattern.find_last_of(kPathDelimiters);
  const narrow_buffer name = slash == narrow_buffer::npos ? pattern : pattern.substr(slash + 1);
  if (HasWildcard(name) || (!includeHidden && IsHidden(name.c_str(), name.length())))
    return -1;
  WALK_ENTRY entry;
  entry.path = __Resolve(pattern);
  os::entry_type type;
  if (const int error = os::path_type(entry.path.c_str(), type, &entry.identity)) {
    const bool none = slash == narrow_buffer::npos && os::is_not_found_error(error) &&
                      !os::names_ignore_case();
    return none ? 0 : -1;
  }
  if (type == os::entry_type::directory) return -1;
  const narrow_buffer::size_type last = entry.path.find_last_of(kPathDelimiters);
  entry.name_offset = last == narrow_buffer::npos ? 0 : last + 1;
  entry.by_wildcard = false;
  sink.Found(entry);
  return 1;
}

namespace {

// A folder is listed for the names given in it only when this many share
// it: for fewer, their status calls cost less than a listing may.
constexpr std::size_t kNamesWorthAListing = 8;
// How many entries a listing reads before it leaves the names it has not
// met to their status calls (a large folder named by a few names): an
// entry read costs a small part of the status call it may save.
constexpr std::size_t kEntriesPerName = 16;
constexpr std::size_t kEntriesFree = 1024;

}  // namespace

void CDir::FindNamedFiles(const std::vector<narrow_buffer>& names, std::vector<WALK_ENTRY>& found,
                          bool includeHidden, bool with_folders,
                          std::vector<bool>* absent) const {
  found.assign(names.size(), WALK_ENTRY());
  if (absent) absent->assign(names.size(), false);
  if (os::names_ignore_case()) return;
  // Each name's full path, and where its name begins, grouped by folder.
  std::vector<narrow_buffer> paths(names.size());
  std::vector<narrow_buffer::size_type> offsets(names.size(), 0);
  std::unordered_map<std::string_view, std::vector<std::size_t>> folders;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const narrow_buffer& name = names[i];
    if (name.empty() || HasWildcard(name) || name.ends_with_any(kPathDelimiters)) continue;
    const narrow_buffer::size_type slash = name.find_last_of(kPathDelimiters);
    const char* last = name.c_str() + (slash == narrow_buffer::npos ? 0 : slash + 1);
    const std::size_t last_length = name.c_str() + name.length() - last;
    if (IsDots(last, last_length) || (!includeHidden && IsHidden(last, last_length))) continue;
    paths[i] = __Resolve(name);
    const narrow_buffer::size_type at = paths[i].find_last_of(kPathDelimiters);
    if (at == narrow_buffer::npos || at + 1 == paths[i].length()) continue;
    offsets[i] = at + 1;
    folders[std::string_view(paths[i].c_str(), at + 1)].push_back(i);
  }
  // The names looked for in one folder, each with the first of the given
  // names that spell it, and from each given name the next one that spells
  // the same (one name may be given twice).
  std::unordered_map<std::string_view, std::size_t> wanted;
  std::vector<std::size_t> same(names.size(), std::size_t(-1));
  for (const auto& [folder, members] : folders) {
    if (members.size() < kNamesWorthAListing) continue;
    wanted.clear();
    for (const std::size_t i : members) {
      const std::string_view name(paths[i].c_str() + offsets[i], paths[i].length() - offsets[i]);
      const auto [place, added] = wanted.emplace(name, i);
      if (!added) {
        same[i] = same[place->second];
        same[place->second] = i;
      }
    }
    os::dir_reader reader;
    if (reader.open(std::string(folder).c_str()) != 0) continue;  // left to the status calls
    FolderRef shared;
    bool share = with_folders;
    std::size_t left = wanted.size();
    std::size_t budget = kEntriesFree + kEntriesPerName * members.size();
    const char* entry_name;
    std::size_t length;
    int error;
    bool listed_to_end = false;
    for (;;) {
      if (left == 0 || budget-- == 0) break;
      if (!reader.next(entry_name, length, error)) {
        listed_to_end = error == 0;
        break;
      }
      const auto place = wanted.find(std::string_view(entry_name, length));
      if (place == wanted.end()) continue;
      const std::size_t first = place->second;
      wanted.erase(place);
      --left;
      if (reader.current_type() != os::entry_type::file) continue;
      if (share) {
        share = false;
        shared = ShareFolder(reader);
      }
      for (std::size_t i = first; i != std::size_t(-1); i = same[i]) {
        WALK_ENTRY& entry = found[i];
        entry.path = paths[i];
        entry.name_offset = offsets[i];
        entry.identity = reader.current_id();
        entry.by_wildcard = false;
        entry.folder = shared;
      }
    }
    reader.close();
    // What the whole listing did not hold is not in the folder.
    if (absent && listed_to_end)
      for (const auto& [name, first] : wanted)
        for (std::size_t i = first; i != std::size_t(-1); i = same[i]) (*absent)[i] = true;
  }
}

std::uint64_t CDir::WalkFiles(TWalkSink& sink, narrow_buffer pattern, bool recursive,
                              bool includeHidden, TWalkFilter* filter) const {
  if (pattern.empty()) {
    pattern = kAll;
  } else {
    if (!recursive) {
      const int found = __FindNamedFile(sink, pattern, includeHidden);
      if (found >= 0) return std::uint64_t(found);
    }
    CDir sub;
    if (__SplitPattern(pattern, sub))
      return sub.WalkFiles(sink, pattern, recursive, includeHidden, filter);
  }
  SEARCH search{sink, pattern, true, recursive, includeHidden, false, 0, narrow_buffer(), nullptr, {}};
  search.filter = recursive ? filter : nullptr;
  Walk(search, path_);
  return search.found;
}

namespace {

// Hands each file of a walk for all files to the sinks of the names it
// answers to (two names may be one where names ignore case).
class CNamesSink final : public TWalkSink {
 public:
  CNamesSink(const std::vector<narrow_buffer>& names, const std::vector<TWalkSink*>& sinks)
      : sinks_(sinks), fold_(os::names_ignore_case()) {
    keys_.reserve(names.size());
    for (const narrow_buffer& name : names) keys_.emplace_back(Key(name.c_str(), name.length()));
    for (std::size_t i = 0; i < names.size(); ++i) by_key_[keys_[i]].push_back(i);
  }

  void Found(WALK_ENTRY& entry) override {
    const auto place = by_key_.find(Key(entry.path.c_str() + entry.name_offset,
                                        entry.path.length() - entry.name_offset));
    if (place == by_key_.end()) return;
    for (const std::size_t i : place->second) {
      WALK_ENTRY own = entry;
      sinks_[i]->Found(own);
    }
  }
  bool FolderFailed(const narrow_buffer& folder, const dirExp& error) override {
    bool go_on = true;
    for (TWalkSink* sink : sinks_) go_on = sink->FolderFailed(folder, error) && go_on;
    return go_on;
  }
  bool WantsFolders() const override {
    return std::any_of(sinks_.begin(), sinks_.end(),
                       [](const TWalkSink* sink) { return sink->WantsFolders(); });
  }

 private:
  // A literal name matches a file name exactly, ASCII case aside where names
  // ignore case: the key is the name, its letters lowered then.
  std::string_view Key(const char* name, std::size_t length) {
    if (!fold_) return std::string_view(name, length);
    lowered_.assign(name, length);
    for (char& c : lowered_) c = ascii::to_lower(c);
    return lowered_;
  }

  const std::vector<TWalkSink*>& sinks_;
  const bool fold_;
  std::string lowered_;
  std::vector<std::string> keys_;
  std::unordered_map<std::string_view, std::vector<std::size_t>> by_key_;
};

}  // namespace

bool CDir::IsBareName(const narrow_buffer& name) {
  return !name.empty() && !HasWildcard(name) &&
         name.find_first_of(kPathDelimiters) == narrow_buffer::npos &&
         !IsDots(name.c_str(), name.length());
}

void CDir::WalkTreeForNames(const std::vector<narrow_buffer>& names,
                            const std::vector<TWalkSink*>& sinks, bool includeHidden,
                            TWalkFilter* filter) const {
  CNamesSink sink(names, sinks);
  // A walk for every file visits the folders a walk for one name visits,
  // in the same order, and lists their files in the same order.
  SEARCH search{sink, kAll, true, true, includeHidden, false, 0, narrow_buffer(), filter, {}};
  Walk(search, path_);
}

std::uint32_t CDir::GetAllFiles(FileList& list, narrow_buffer pattern,
                                bool recursive, bool includeHidden,
                                bool ignoreErrors, TWalkFilter* filter) {
  CListSink sink(list, ignoreErrors);
  WalkFiles(sink, pattern, recursive, includeHidden, filter);
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
  CListSink sink(list, ignoreErrors);
  SEARCH search{sink, pattern, false, recursive, includeHidden, includeDots, 0, narrow_buffer(), nullptr, {}};
  Walk(search, path_);
  return std::uint32_t(list.size());
}

}  // namespace Velk
