// DeepChain: a chain of folders below a root whose full path is longer
// than PATH_MAX, with one file at its bottom. Built and removed through
// folder handles, since no path that long can be used.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace Velk::test {

class DeepChain {
 public:
  static constexpr int kDepth = 420;
  static constexpr const char* kName = "d123456789";  // 11 bytes a level with "/"

  explicit DeepChain(const std::string& root) : root_(root) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < kDepth && fd >= 0; ++i) {
      ::mkdirat(fd, kName, 0777);
      const int next = ::openat(fd, kName, O_RDONLY | O_DIRECTORY);
      ::close(fd);
      fd = next;
    }
    if (fd < 0) return;
    const int file = ::openat(fd, "deep.txt", O_WRONLY | O_CREAT, 0666);
    ok_ = file >= 0 && ::write(file, "x", 1) == 1;
    if (file >= 0) ::close(file);
    ::close(fd);
  }
  ~DeepChain() { Remove(::open(root_.c_str(), O_RDONLY | O_DIRECTORY), 0); }
  bool ok() const { return ok_; }
  std::string DeepFile() const {
    std::string path = root_;
    for (int i = 0; i < kDepth; ++i) path += std::string("/") + kName;
    return path + "/deep.txt";
  }

 private:
  static void Remove(int fd, int level) {
    if (fd < 0) return;
    if (level < kDepth) Remove(::openat(fd, kName, O_RDONLY | O_DIRECTORY), level + 1);
    ::unlinkat(fd, "deep.txt", 0);
    if (level < kDepth) ::unlinkat(fd, kName, AT_REMOVEDIR);
    ::close(fd);
  }
  std::string root_;
  bool ok_ = false;
};

}  // namespace Velk::test
