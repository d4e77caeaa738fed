// CDir: a folder object that knows its own full path, plus the static path
// operations and the whole-file read and write.
//
// Paths follow the system's rules (support/os/path_rules.h): on POSIX "/" is
// the only separator and a backslash or a colon is an ordinary name
// character; on Windows the backslash separates, a forward slash is accepted
// and turned into one, and a colon ends a drive prefix. Below, "/" stands
// for the system's separator. A folder path held by a CDir is full and
// always ends in one "/". Searches append full file names (folder path
// without its trailing "/", one "/", the entry's name) to a FileList in
// discovery order and return the list's new size; nothing is sorted,
// removed or de-duplicated. Wildcards ("*", "?") apply to the last path
// component only, case-sensitive on POSIX and ignoring the case of ASCII
// letters on Windows; a name without them (and without recursion) is looked
// up with one status call, not by listing its folder (FindNamedFiles lists
// a folder that many such names share), and a symbolic link so named is
// followed. Hidden names are those that start with "." on
// POSIX, those with the hidden attribute on Windows. A listing reports
// regular files only: symbolic links (to files or folders) are neither
// listed nor descended into (see dir_walk.h), and a recursive search never
// enters a version-control folder (.git, .hg, .svn, .bzr, _darcs, CVS)
// unless a pattern names a path inside one.
//
// Every failure throws: dirExp for folders and paths, sysfileExp for file
// contents (see sys_file.h). A CDir is a plain value; it keeps nothing open.
#pragma once

#include <cstdint>
#include <vector>

#include "support/core/basic_buffer.h"
#include "support/fs/dir_walk.h"
#include "support/fs/sys_file.h"
#include "support/os/dir.h"
#include "support/os/file_identity.h"

namespace Velk {

class TWalkFilter;
using FileList = std::vector<narrow_buffer>;

// Which file was read and how it was when read: carried from ReadFile to
// WriteFile so that the write-back replaces that same file, and only if no
// one changed it meanwhile. The file stays open until the record is
// released or filled again: the open handle is the symbolic links resolved
// once, at the read.
struct FILE_IDENTITY {
  CSysFile file;
  os::file_identity state;
  // The folder the file was opened in by its name, when it was: the
  // write-back looks for it there first.
  FolderRef folder;
};

class CDir {
 public:
  CDir() = default;
  CDir(const narrow_buffer& path, bool create, bool skipCheck);
  CDir(const CDir& base, const narrow_buffer& sub, bool create);

  // Makes this object stand for the folder path (relative paths start at
  // the current directory). Unless skipCheck, a missing folder is created
  // (create) or is an error. A failed Open leaves the path empty.
  void Open(const narrow_buffer& path, bool create, bool skipCheck);
  void OpenSubDir(const narrow_buffer& sub, bool create);

  // Hands each file matching pattern (possibly with a folder part) below
  // this folder, and with recursive in every sub-folder, to sink as it is
  // found (dir_walk.h); returns how many. A folder part naming a missing
  // folder throws; a folder of the walk that fails goes to the sink. A
  // recursive walk leaves out what filter, when given, skips.
  std::uint64_t WalkFiles(TWalkSink& sink, narrow_buffer pattern, bool recursive,
                          bool includeHidden, TWalkFilter* filter = nullptr) const;
  // Looks up, for each name without wildcards in names, the regular file
  // it names, as WalkFiles without recursion would report it, by listing
  // the folder that many of the names share once instead of one status
  // call per name (a long list from the shell: `rplc *.c`). found gets one
  // entry per name: the file's, or an empty path where the name is left to
  // WalkFiles (few names in its folder, not a regular file in the
  // listing, a link, a folder, hidden and not wanted, not listed yet when
  // the listing's budget ran out, or names that ignore case). with_folders
  // keeps the folder open for the files found (WALK_ENTRY::folder).
  // absent, when given, gets one flag per name: set where the folder was
  // listed to its end without the name, so that WalkFiles would find
  // nothing either (a list of names that are all missing then costs one
  // listing, not one a name).
  void FindNamedFiles(const std::vector<narrow_buffer>& names, std::vector<WALK_ENTRY>& found,
                      bool includeHidden, bool with_folders,
                      std::vector<bool>* absent = nullptr) const;
  // Walks this folder and every sub-folder once for several names, each a
  // bare name (IsBareName) that names no folder here (WalkFiles would take
  // such a name for the folder's files): sinks[i] gets the files that
  // WalkFiles(*sinks[i], names[i], true, includeHidden, filter) would find,
  // in the same order, and a folder that fails goes to every sink.
  void WalkTreeForNames(const std::vector<narrow_buffer>& names,
                        const std::vector<TWalkSink*>& sinks, bool includeHidden,
                        TWalkFilter* filter = nullptr) const;
  // A name with neither wildcards nor a folder part, not "." or "..":
  // a walk of sub-folders looks for it in each folder.
  static bool IsBareName(const narrow_buffer& name);
  // Opens the folder that pattern's folder part names, as WalkFiles does,
  // and throws as it would when that folder is missing.
  void CheckPatternFolder(narrow_buffer pattern) const {
    CDir sub;
    if (!pattern.empty()) __SplitPattern(pattern, sub);
  }
  // WalkFiles into list. ignoreErrors skips folders that cannot be listed.
  std::uint32_t GetAllFiles(FileList& list, narrow_buffer pattern,
                            bool recursive, bool includeHidden,
                            bool ignoreErrors, TWalkFilter* filter = nullptr);
  // Appends the sub-folders matching pattern ("." and ".." with
  // includeDots), each without a trailing "/".
  std::uint32_t GetAllSubDirs(FileList& list, narrow_buffer pattern,
                              bool recursive, bool includeHidden,
                              bool includeDots, bool ignoreErrors);

  const narrow_buffer& GetPath() const { return path_; }

  // Trailing runs of "/" cut to one (the root stays "/").
  static narrow_buffer NormalizePath(const narrow_buffer& path);
  // NormalizePath, then one "/" at the end of a non-empty path.
  static narrow_buffer AppendSeparator(const narrow_buffer& path);
  static bool IsExistingDir(const narrow_buffer& path);
  // In place: the folder part with trailing "/" ("./" when there is none),
  // and the name part (empty when path names a folder).
  static void GetPathDir(narrow_buffer& path);
  static void GetPathFilename(narrow_buffer& path);
  // In place: the full path, "." and ".." resolved by text against the
  // current directory; symbolic links are not resolved.
  static void ConvToFullPath(narrow_buffer& path);
  static narrow_buffer GetPwd();
  static void MakeDir(const narrow_buffer& path, bool recursive);

  // Replaces out by the whole contents of the regular file path; a file of
  // more than max_length bytes (at most the buffer's own limit) is refused.
  // With identity, also records which file that was and how it was. With a
  // known expected identity (from the walk that found path), a file that
  // is not that one is refused: another took its name, or a folder on the
  // way was swapped for a link. Without follow_link, a symbolic link that
  // took the name is refused too. With lock (and identity), the file is
  // locked before it is read until the identity's file is closed
  // (WriteFile closes it): a second rplc that rewrites the same file waits,
  // then reads this one's result (the file that was renamed over the name
  // meanwhile, whatever the walk saw). Writers that take no lock are not
  // held back.
  static void ReadFile(const narrow_buffer& path, narrow_buffer& out,
                       std::uint32_t max_length = narrow_buffer::max_size - 1,
                       FILE_IDENTITY* identity = nullptr,
                       const os::file_id* expected = nullptr, bool follow_link = true,
                       bool lock = false);
  // The same for a file a walk found in folder (WALK_ENTRY): opened
  // relative to the folder when there is one.
  static void ReadFile(const narrow_buffer& path, const FolderRef& folder, narrow_buffer& out,
                       std::uint32_t max_length, FILE_IDENTITY* identity,
                       const os::file_id* expected, bool follow_link, bool lock = false);
  // The opening half of ReadFile, for a caller that reads the file itself
  // (a chunk at a time, say): opens path (relative to folder when there is
  // one) into opened with every check ReadFile makes, the lock included,
  // and records the file's identity as opened (taken under the lock); its
  // size is to be set to the bytes read. Returns the size the file tells
  // (0 for an empty file, and for one that tells no size).
  static std::uint64_t OpenToRead(const narrow_buffer& path, const FolderRef& folder,
                                  FILE_IDENTITY& opened, const os::file_id* expected,
                                  bool follow_link, bool lock);
  // The reading half: the file that OpenToRead opened, of the size it
  // returned, read whole into out as ReadFile does.
  static void ReadOpened(FILE_IDENTITY& opened, std::uint64_t size, narrow_buffer& out,
                         std::uint32_t max_length);
  // Replaces the contents of path by data (see write_back.h for how the
  // old contents stay safe until the new ones are complete), or with
  // append adds data at its end. flush syncs the data to the device.
  // Given the identity that ReadFile recorded, the file that was read is
  // replaced (a symbolic link is not followed again), only if it is still
  // as it was read: a file changed, removed or replaced meanwhile is left
  // alone and the write throws. Without it, a missing file is created.
  // The identity's file is closed when it returns, releasing its lock.
  static void WriteFile(const narrow_buffer& path, const narrow_buffer& data,
                        bool flush, bool append, FILE_IDENTITY* identity = nullptr);

 private:
  bool __SplitPattern(narrow_buffer& pattern, CDir& sub) const;
  // 1 when it found the file, 0 when it found that nothing has the name,
  // -1 when it is left to a listing.
  int __FindNamedFile(TWalkSink& sink, const narrow_buffer& pattern, bool includeHidden) const;
  // The full path of path taken relative to this folder, "." and ".."
  // resolved by text.
  narrow_buffer __Resolve(const narrow_buffer& path) const;

  narrow_buffer path_;
};

}  // namespace Velk
