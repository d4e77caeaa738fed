// The state of a test tree, to tell exactly what a run changed: every
// entry below a root with its content (a symbolic link by its target),
// inode and modification time; and helpers to fill a tree and run shell
// commands in it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run_binary.h"

namespace rplc_test {

using Files = std::vector<std::pair<std::string, std::string>>;

struct FILE_STATE {
  std::string content;  // a link's is "-> " and its target
  ino_t inode;
  std::int64_t mtime_ns;
  bool operator==(const FILE_STATE& other) const {
    return content == other.content && inode == other.inode && mtime_ns == other.mtime_ns;
  }
};

inline std::string SlurpFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every file and link below root (links not followed) by relative name.
inline std::map<std::string, FILE_STATE> TreeState(const std::string& root) {
  std::map<std::string, FILE_STATE> state;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    struct stat info {};
    if (lstat(entry.path().c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
    std::string content;
    if (S_ISLNK(info.st_mode)) {
      content = "-> " + std::filesystem::read_symlink(entry.path()).string();
    } else if (S_ISREG(info.st_mode)) {
      content = SlurpFile(entry.path().string());
    }
    state[std::filesystem::relative(entry.path(), root).string()] = {
        content, info.st_ino,
        std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
  }
  return state;
}

inline std::map<std::string, std::string> Contents(const std::string& root) {
  std::map<std::string, std::string> contents;
  for (const auto& [name, state] : TreeState(root)) contents[name] = state.content;
  return contents;
}

// Fills a tree with files dated in the past, so that a rewrite would show
// in their times.
inline void Fill(const TempDir& dir, const Files& files) {
  for (const auto& [name, content] : files) {
    const std::string path = dir.Write(name, content);
    const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, path.c_str(), past, 0);
  }
}

// Runs command with sh in cwd, output discarded; its exit status.
inline int Shell(const std::string& cwd, const std::string& command) {
  return std::system(("cd '" + cwd + "' && " + command + " >/dev/null 2>&1").c_str());
}

}  // namespace rplc_test
