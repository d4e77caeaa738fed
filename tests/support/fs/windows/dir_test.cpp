// CDir on Windows: backslash and forward slash both separate, a colon ends
// a drive prefix, the system makes paths full and matches wildcards
// (case-insensitively), and the hidden attribute decides what is hidden.
#include "support/fs/dir.h"

#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// <windows.h> maps GetMessage to GetMessageA, which would rename the
// exceptions' method at the call sites below.
#undef GetMessage

#include <algorithm>
#include <string>
#include <vector>

#include "support/core/exceptions.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }

// A scratch folder made current for the test's lifetime.
class ScratchCwd {
 public:
  ScratchCwd() {
    char buffer[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, buffer);
    old_ = buffer;
    ::GetTempPathA(MAX_PATH, buffer);
    path_ = std::string(buffer) + "rplc-dir-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(path_.c_str(), nullptr);
    ::SetCurrentDirectoryA(path_.c_str());
    path_ = Full(".");
  }
  ~ScratchCwd() {
    ::SetCurrentDirectoryA(old_.c_str());
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      ::SetFileAttributesA(it->first.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (it->second)
        ::RemoveDirectoryA(it->first.c_str());
      else
        ::DeleteFileA(it->first.c_str());
    }
    ::RemoveDirectoryA(path_.c_str());
  }
  static std::string Full(const char* name) {
    char buffer[MAX_PATH];
    const DWORD length = ::GetFullPathNameA(name, MAX_PATH, buffer, nullptr);
    return std::string(buffer, length);
  }
  // path_ without its trailing backslash.
  std::string Root() const { return path_.back() == '\\' ? path_.substr(0, path_.size() - 1) : path_; }
  void Dir(const std::string& name) {
    ::CreateDirectoryA((Root() + "\\" + name).c_str(), nullptr);
    made_.push_back({Root() + "\\" + name, true});
  }
  void File(const std::string& name, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    const std::string full = Root() + "\\" + name;
    HANDLE file = ::CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                attributes, nullptr);
    ::CloseHandle(file);
    made_.push_back({full, false});
  }

 private:
  std::string old_, path_;
  std::vector<std::pair<std::string, bool>> made_;
};

TEST(WindowsPaths, NormalizeSplitAndFullPaths) {
  EXPECT_EQ(str(CDir::NormalizePath(narrow_buffer("a//b\\\\\\"))), "a\\\\b\\");
  EXPECT_EQ(str(CDir::AppendSeparator(narrow_buffer("C:/work"))), "C:\\work\\");

  struct Split {
    const char* pattern;
    const char* dir;
    const char* name;
  };
  const Split splits[] = {
      {"sub\\*.txt", "sub\\", "*.txt"},
      {"sub/*.txt", "sub\\", "*.txt"},
      {"*.txt", ".\\", "*.txt"},
      {"C:", "C:\\", ""},
      {"C:*.log", "C:\\", "*.log"},
      {"C:\\logs\\*.log", "C:\\logs\\", "*.log"},
  };
  for (const Split& s : splits) {
    narrow_buffer dir(s.pattern), name(s.pattern);
    CDir::GetPathDir(dir);
    CDir::GetPathFilename(name);
    EXPECT_EQ(str(dir), s.dir) << s.pattern;
    EXPECT_EQ(str(name), s.name) << s.pattern;
  }

  ScratchCwd cwd;
  narrow_buffer path("sub/../x.txt");
  CDir::ConvToFullPath(path);
  EXPECT_EQ(str(path), cwd.Root() + "\\x.txt");
  EXPECT_EQ(str(CDir::GetPwd()), cwd.Root() + "\\");
}

TEST(WindowsPaths, SearchMatchesCaseInsensitivelyAndHonoursTheHiddenAttribute) {
  ScratchCwd cwd;
  cwd.File("a.txt");
  cwd.File("B.TXT");
  cwd.File("h.txt", FILE_ATTRIBUTE_HIDDEN);
  cwd.File("c.log");
  cwd.Dir("sub");
  cwd.File("sub\\d.Txt");

  CDir here(narrow_buffer("."), false, false);
  EXPECT_EQ(str(here.GetPath()), cwd.Root() + "\\");

  auto names = [&](const char* pattern, bool recursive, bool hidden) {
    FileList list;
    here.GetAllFiles(list, narrow_buffer(pattern), recursive, hidden, true);
    std::vector<std::string> out;
    for (const narrow_buffer& each : list) out.push_back(str(each).substr(cwd.Root().size()));
    std::sort(out.begin(), out.end());
    return out;
  };
  using names_t = std::vector<std::string>;
  EXPECT_EQ(names("*.txt", false, true), (names_t{"\\B.TXT", "\\a.txt", "\\h.txt"}));
  EXPECT_EQ(names("*.TXT", false, false), (names_t{"\\B.TXT", "\\a.txt"}));
  EXPECT_EQ(names("sub\\*.txt", false, true), (names_t{"\\sub\\d.Txt"}));
  EXPECT_EQ(names("sub", false, true), (names_t{"\\sub\\d.Txt"}));
  EXPECT_EQ(names("*.txt", true, false), (names_t{"\\B.TXT", "\\a.txt", "\\sub\\d.Txt"}));
  EXPECT_EQ(names("*.none", true, true), names_t{});
  EXPECT_EQ(names((cwd.Root() + "/sub/*").c_str(), false, true), (names_t{"\\sub\\d.Txt"}));
}

TEST(WindowsPaths, MissingFolderThrowsWithTheFullPath) {
  ScratchCwd cwd;
  CDir here(narrow_buffer("."), false, false);
  FileList list;
  try {
    here.GetAllFiles(list, narrow_buffer("nosuch\\*.txt"), false, true, true);
    FAIL();
  } catch (const dirExp& e) {
    EXPECT_EQ(e.GetCode(), 3);
    EXPECT_EQ(str(e.GetMessage()), "CDir::Open - error open dir : not exist\n"
                                   "  dir to open         = " + cwd.Root() + "\\nosuch\\\n"
                                   "  current working dir = " + cwd.Root() + "\\\n");
  }
}

}  // namespace
}  // namespace Velk
