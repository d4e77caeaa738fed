// Test helpers for file-system tests: a temporary folder removed with all
// its contents (permissions restored first), a scoped change of the current
// directory, small file makers, and a runner that executes a body in a
// forked child, as an unprivileged user when the tests run as root.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace Velk::test {

class TempTree {
 public:
  TempTree() {
    char name[] = "/tmp/rplc-fs-XXXXXX";
    if (!::mkdtemp(name)) std::abort();
    // Open to everyone so that a child running as another user can work in it.
    ::chmod(name, 0777);
    path_ = name;
  }
  ~TempTree() {
    // Restore permissions top-down so every folder can be entered, then
    // remove bottom-up.
    ::nftw(path_.c_str(), [](const char* p, const struct stat* s, int type, FTW*) {
      if (type == FTW_D || type == FTW_DNR) ::chmod(p, 0700);
      (void)s;
      return 0;
    }, 16, FTW_PHYS);
    ::nftw(path_.c_str(), [](const char* p, const struct stat*, int, FTW*) {
      return ::remove(p) == 0 ? 0 : 0;
    }, 16, FTW_PHYS | FTW_DEPTH);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  void dir(const std::string& name) const { ::mkdir((*this / name).c_str(), 0777); }
  void file(const std::string& name, const std::string& text = "x") const {
    const int fd = ::open((*this / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) std::abort();
    if (!text.empty() && ::write(fd, text.data(), text.size()) != ssize_t(text.size()))
      std::abort();
    ::close(fd);
  }
  void link(const std::string& target, const std::string& name) const {
    if (::symlink(target.c_str(), (*this / name).c_str()) != 0) std::abort();
  }

 private:
  std::string path_;
};

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& path) {
    char buffer[4096];
    if (!::getcwd(buffer, sizeof buffer) || ::chdir(path.c_str()) != 0) std::abort();
    old_ = buffer;
  }
  ~ScopedCwd() { (void)::chdir(old_.c_str()); }

 private:
  std::string old_;
};

inline std::string ReadAll(const std::string& path) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return "<missing>";
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
  ::close(fd);
  return text;
}

// Names in a folder, "." and ".." left out, sorted: a leftover temporary
// file shows.
inline std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Whether process pid holds an unnamed (or removed) file of folder open:
// the temporary file of a write-back before it gets a name.
inline int UnnamedFilesHeld(int pid, const std::string& folder) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  int found = 0;
  if (DIR* dir = ::opendir(fds.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      char target[4096];
      const ssize_t n = ::readlink((fds + "/" + entry->d_name).c_str(), target, sizeof target);
      const std::string text(target, n > 0 ? std::size_t(n) : 0);
      if (text.rfind(folder + "/", 0) == 0 && text.find(" (deleted)") != std::string::npos)
        ++found;
    }
    ::closedir(dir);
  }
  return found;
}
inline bool HoldsUnnamedFile(int pid, const std::string& folder) {
  return UnnamedFilesHeld(pid, folder) > 0;
}

struct ChildResult {
  int status = -1;     // the child's exit status, or 128 + signal
  std::string output;  // what the body returned
};

// Runs body in a forked child and returns what it produced. With
// unprivileged, a root process first becomes "nobody" so that permissions
// apply; unprivileged_ok tells whether that worked (false: skip).
inline ChildResult RunInChild(const std::function<std::string()>& body,
                              bool unprivileged = false) {
  int fds[2];
  if (::pipe(fds) != 0) std::abort();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    if (unprivileged && ::geteuid() == 0 &&
        (::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(99);
    std::string out;
    try {
      out = body();
    } catch (...) {
      out = "<exception>";
    }
    (void)!::write(fds[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  ChildResult result;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, size_t(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace Velk::test
