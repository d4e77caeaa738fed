// Folder services of the operating system: the current directory, folder
// tests and creation, and reading a folder's entries one by one.
//
// Paths are 0-terminated byte strings in the system's form (path_rules.h).
// Every operation that can fail returns the OS error number (errno on
// POSIX, GetLastError on Windows), 0 on success; none throws. The callers
// in support/fs turn numbers into messages.
#pragma once

#include <cstddef>
#include <string>

namespace Velk::os {

// The process's current directory, as the system reports it.
int current_dir(std::string& out);

// True when path names a folder (a symbolic link to a folder counts).
bool is_directory(const char* path);

// Creates one folder with mode 0777 (the umask applies). An existing entry
// of that name counts as success.
int make_dir(const char* path);

// What a folder entry is, as far as listing cares. A symbolic link to a
// folder is told apart so that walks neither list nor descend it; any other
// link, a dangling one included, is a file.
enum class entry_type { file, directory, directory_link };

// Reads the entries of one folder in the order the system returns them,
// "." and ".." included. Not copyable; the destructor closes quietly.
class dir_reader {
 public:
  dir_reader() = default;
  ~dir_reader();
  dir_reader(const dir_reader&) = delete;
  dir_reader& operator=(const dir_reader&) = delete;

  int open(const char* path);
  // Lists the entries of folder path that match the wildcard pattern where
  // the system matches names itself (system_matches_wildcards); otherwise
  // every entry, as open(path) does, and the caller matches.
  int open(const char* path, const char* pattern);
  // The next entry's name; false at the end (error 0) or on a failure
  // (error set). The name stays valid until the next call.
  bool next(const char*& name, std::size_t& length, int& error);
  // The type of the entry last returned by next: from the entry itself when
  // the file system records it, otherwise from the link's status.
  entry_type current_type() const;
  // Whether the entry last returned by next is hidden: a name starting with
  // "." (other than "." and "..") on POSIX, the hidden attribute on Windows.
  bool current_hidden() const;
  int close();

 private:
  void* stream_ = nullptr;
  const void* entry_ = nullptr;
};

}  // namespace Velk::os
