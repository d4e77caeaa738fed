// Folder services of the operating system: the current directory, folder
// tests and creation, and reading a folder's entries one by one.
//
// A folder being read is also the handle its sub-folders are opened from,
// so a walk down a tree never rebuilds a text path: it works at any depth
// and whatever characters the names hold (on Windows, where a search has
// no handle to open from, the reader keeps its folder's path instead).
//
// Paths are 0-terminated byte strings in the system's form (path_rules.h).
// Every operation that can fail returns the OS error number (errno on
// POSIX, GetLastError on Windows), 0 on success; none throws. The callers
// in support/fs turn numbers into messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Velk::os {

// The process's current directory, as the system reports it.
int current_dir(std::string& out);

// True when path names a folder (a symbolic link to a folder counts).
bool is_directory(const char* path);

// Creates one folder with mode 0777 (the umask applies). An existing entry
// of that name counts as success.
int make_dir(const char* path);

// What a folder entry is, as far as listing cares: a regular file, a
// folder, a symbolic link (to anything, or dangling; on Windows also a
// junction), or anything else (FIFO, device, socket).
enum class entry_type { file, directory, link, other };

// Which file an entry is: its volume (device) and file number (inode). Two
// names with the same known identity reach the same file. Unknown where
// the listing does not tell it (Windows).
struct file_id {
  std::uint64_t volume = 0;
  std::uint64_t file_number = 0;
  bool known = false;
  bool operator==(const file_id& other) const {
    return known && other.known && volume == other.volume && file_number == other.file_number;
  }
};

// What path names, with links followed, from one status call: a folder,
// a regular file or anything else (never link), and optionally which file
// it is. Returns the error number when the path cannot be reached.
int path_type(const char* path, entry_type& type, file_id* identity = nullptr);

// True when open_sub failed because the name no longer is a folder: a
// symbolic link or a file took its place since it was listed.
bool is_no_folder_error(int error);

// True when path_type failed because nothing has that name (a dangling
// symbolic link included).
bool is_not_found_error(int error);

// A folder kept open so that files found in it can be opened from it
// (open_file_in, file.h) after its listing is over: a descriptor on POSIX.
// Windows has none: there the handle is always invalid and files are
// opened by their paths.
using folder_handle = int;
constexpr folder_handle invalid_folder_handle = -1;
int close_folder(folder_handle folder);
// How many handles the process may hold open at once (0: no such limit
// to heed, as on Windows, where folders are never kept for their files).
std::size_t handle_limit();

// Reads the entries of one folder in the order the system returns them,
// "." and ".." included. Not copyable; the destructor closes quietly.
class dir_reader {
 public:
  dir_reader() = default;
  ~dir_reader();
  dir_reader(const dir_reader&) = delete;
  dir_reader& operator=(const dir_reader&) = delete;

  int open(const char* path);
  // Opens the sub-folder name of the folder parent has open, relative to
  // parent's handle; parent must stay open meanwhile. A symbolic link is not
  // followed: opening one fails (ELOOP or ENOTDIR on POSIX).
  int open_sub(const dir_reader& parent, const char* name);
  // Opens the folder that holds the folder child has open (its ".."),
  // relative to child's handle. The caller checks by identity() that it is
  // the folder it expects: the child may have been moved meanwhile.
  int open_parent(const dir_reader& child);
  bool is_open() const { return stream_ != nullptr; }
  // Which folder is open (known on POSIX, from the status call made when it
  // was opened).
  file_id identity() const { return folder_; }
  // The next entry's name; false at the end (error 0) or on a failure
  // (error set). The name stays valid until the next call.
  bool next(const char*& name, std::size_t& length, int& error);
  // The type of the entry last returned by next: from the entry itself when
  // the file system records it, otherwise from one status call (two for a
  // symbolic link on a file system that records no types).
  entry_type current_type() const;
  // Which file the entry last returned by next is, from the listing itself
  // (the folder's volume and the entry's file number): no system call.
  // Unknown on Windows, and for an entry that is a mount point the number
  // is that of the folder below it.
  file_id current_id() const;
  // Whether the entry last returned by next is hidden: a name starting with
  // "." (other than "." and "..") on POSIX, the hidden attribute on Windows.
  bool current_hidden() const;
  // Keeps other rplc runs from renaming files in the open folder until
  // end_listing, so that a listing read meanwhile misses no name. Taken
  // with a bounded wait; a no-op where renames cannot hide a name.
  void begin_listing();
  void end_listing();
  // A handle of its own on the folder open here, which outlives the
  // reader; invalid (with the error) when the system has none to give.
  folder_handle share_folder(int& error) const;
  // Ends the reading. Returns the error of the close, 0 when nothing was
  // open.
  int close();

 private:
  int __Opened(void* stream);

  void* stream_ = nullptr;
  const void* entry_ = nullptr;
  file_id folder_;
  bool listing_locked_ = false;
};

}  // namespace Velk::os
