// The Windows write-back: contents replaced in one step by a moved
// temporary file that keeps the attributes, creation time and security
// descriptor; a file with several hard links rewritten in place, reserved
// first; a read-only file refused untouched; a file changed since the read
// left alone; no temporary file left in the folder.
#include "support/os/file_replace.h"

#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace Velk::os {
namespace {

class ScratchFolder {
 public:
  ScratchFolder() {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "rplc-replace-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~ScratchFolder() {
    for (const std::string& name : Names()) {
      const std::string full = path_ + "\\" + name;
      ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileA(full.c_str());
    }
    ::RemoveDirectoryA(path_.c_str());
  }
  std::string Path(const std::string& name) const { return path_ + "\\" + name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((path_ + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      const std::string name = data.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return names;
  }

 private:
  std::string path_;
};

void WriteWhole(const std::string& path, const std::string& text) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD put = 0;
  ::WriteFile(file, text.data(), DWORD(text.size()), &put, nullptr);
  ::CloseHandle(file);
}

std::string ReadWhole(const std::string& path) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  ::CloseHandle(file);
  return text;
}

// The file system's identity of the file at path; a moved-in file has a new one.
ULONGLONG FileIndex(const std::string& path) {
  HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  ::GetFileInformationByHandle(file, &info);
  ::CloseHandle(file);
  return (ULONGLONG(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// The identity of the file at path, taken as CDir::ReadFile takes it.
file_identity Identity(const std::string& path) {
  file_handle handle = invalid_file_handle;
  EXPECT_EQ(open_file(path.c_str(), true, false, file_creation::open_existing, handle), 0);
  file_status status{};
  EXPECT_EQ(get_file_status(handle, status), 0);
  EXPECT_EQ(close_file(handle), 0);
  return status.identity;
}

// Replaces as CDir::WriteFile does: the handle of the read is closed before
// the replacement.
bool Replace(const std::string& path, const std::string& text, replace_failure& failure) {
  EXPECT_TRUE(replace_needs_closed_file());
  return replace_file_contents(invalid_file_handle, Identity(path), path.c_str(), text.data(),
                               text.size(), false, failure) == replace_result::replaced;
}

TEST(FileReplace, NewContentsAndAttributesAndNoTemporaryFile) {
  ScratchFolder folder;
  const std::string path = folder.Path("a.txt");
  WriteWhole(path, "old contents that are longer");
  const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), attributes));
  const ULONGLONG before = FileIndex(path);

  replace_failure failure;
  ASSERT_TRUE(Replace(path, "new", failure)) << failure.step << " " << failure.error;
  EXPECT_EQ(ReadWhole(path), "new");
  EXPECT_NE(FileIndex(path), before) << "rewritten in place instead of replaced in one step";
  EXPECT_EQ(::GetFileAttributesA(path.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
            attributes);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.txt"});
}

TEST(FileReplace, EmptyAndGrowingContents) {
  ScratchFolder folder;
  const std::string path = folder.Path("b.txt");
  for (const std::string& text : {std::string(), std::string("x"), std::string(100000, 'y')}) {
    WriteWhole(path, "something");
    replace_failure failure;
    ASSERT_TRUE(Replace(path, text, failure));
    EXPECT_EQ(ReadWhole(path), text);
  }
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"b.txt"});
}

TEST(FileReplace, ReadOnlyFileIsRefusedAndLeftAlone) {
  ScratchFolder folder;
  const std::string path = folder.Path("ro.txt");
  WriteWhole(path, "keep me");
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));

  file_handle handle = invalid_file_handle;
  if (open_file(path.c_str(), false, true, file_creation::open_existing, handle) == 0) {
    // Only an administrator (or wine as root) gets this far.
    close_file(handle);
    replace_failure failure;
    EXPECT_EQ(replace_file_contents(invalid_file_handle, Identity(path), path.c_str(), "new", 3,
                                    false, failure),
              replace_result::failed);
    EXPECT_EQ(failure.error, ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(ReadWhole(path), "keep me");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"ro.txt"});
}

// A file removed, replaced or rewritten after it was read is left as it is
// now, and no temporary file stays behind.
TEST(FileReplace, FileChangedSinceTheReadIsLeftAlone) {
  const struct {
    const char* name;
    const char* change;
    void (*act)(const std::string& path);
  } rows[] = {
      {"removed", "it was removed", [](const std::string& path) { ::DeleteFileA(path.c_str()); }},
      {"grown", "its size changed",
       [](const std::string& path) { WriteWhole(path, "other contents, longer"); }},
      {"rewritten", "its contents changed",
       [](const std::string& path) {
         ::Sleep(20);
         WriteWhole(path, "same size!");
       }},
      {"attributes", "its attributes changed",
       [](const std::string& path) {
         ::Sleep(20);
         ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
       }},
      {"replaced", "it was replaced by another file",
       [](const std::string& path) {
         WriteWhole(path + ".new", "same size!");
         ::MoveFileExA((path + ".new").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
       }},
  };
  for (const auto& row : rows) {
    ScratchFolder folder;
    const std::string path = folder.Path("c.txt");
    WriteWhole(path, "same size.");
    const file_identity read = Identity(path);
    row.act(path);
    const std::string now = ReadWhole(path);
    replace_failure failure;
    EXPECT_EQ(replace_file_contents(invalid_file_handle, read, path.c_str(), "new", 3, false,
                                    failure),
              replace_result::changed)
        << row.name;
    EXPECT_STREQ(failure.change, row.change) << row.name;
    EXPECT_EQ(ReadWhole(path), now) << row.name;
    EXPECT_LE(folder.Names().size(), 1u) << row.name;
  }
}

std::string DaclText(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return "<none>";
  char* text = nullptr;
  std::string result = "<unreadable>";
  if (::ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    result = text;
    ::LocalFree(text);
  }
  ::LocalFree(descriptor);
  return result;
}

// A DACL of its own, protected from the folder's: everyone full control,
// the Guests group denied writing. wine keeps only what the Unix permission
// bits can say (the deny entry is dropped, everyone's write stays), which
// still differs from a new file's DACL.
TEST(FileReplace, SecurityDescriptorAndCreationTimeAreKept) {
  ScratchFolder folder;
  std::string path = folder.Path("acl.txt");
  WriteWhole(path, "old contents");
  PSECURITY_DESCRIPTOR wanted = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:P(D;;FW;;;BG)(A;;FA;;;WD)", SDDL_REVISION_1, &wanted, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted));
  ASSERT_EQ(::SetNamedSecurityInfoA(&path[0], SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION |
                                        PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, dacl, nullptr),
            DWORD(ERROR_SUCCESS));
  ::LocalFree(wanted);
  const std::string before = DaclText(path);
  WriteWhole(folder.Path("new.txt"), "");
  ASSERT_NE(DaclText(folder.Path("new.txt")), before);
  ::DeleteFileA(folder.Path("new.txt").c_str());
  // A creation time of the past, where the file system can set one (wine
  // cannot: Linux sets a file's birth time only when it creates it).
  FILETIME created{};
  created.dwHighDateTime = 0x01D00000;  // a day in 2014
  {
    HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::SetFileTime(file, &created, nullptr, nullptr);
    ::CloseHandle(file);
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
  const bool creation_time_set = data.ftCreationTime.dwHighDateTime == created.dwHighDateTime;
  const ULONGLONG index = FileIndex(path);

  replace_failure failure;
  ASSERT_TRUE(Replace(path, "new", failure)) << failure.step << " " << failure.error;
  EXPECT_EQ(ReadWhole(path), "new");
  EXPECT_NE(FileIndex(path), index) << "rewritten in place instead of replaced in one step";
  EXPECT_EQ(DaclText(path), before);
  ASSERT_TRUE(::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
  if (creation_time_set) {
    EXPECT_EQ(data.ftCreationTime.dwHighDateTime, created.dwHighDateTime);
  }
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"acl.txt"});
}

// Set by the probe: the size the other name of the file showed at each
// moment of an in-place rewrite (the rewrite shares the file with nobody,
// so only its size can be seen from outside).
std::string g_other_name;
std::vector<ULONGLONG> g_seen;

ULONGLONG SizeByName(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return ~0ull;
  return (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Several hard links: a moved file would leave the other names with the old
// contents, so the file is rewritten in place, its new size reserved before
// the first byte changes, and cut only at the end.
TEST(FileReplace, FileWithSeveralLinksIsRewrittenInPlaceReservedFirst) {
  for (const std::string& text : {std::string("a longer text than before"), std::string("s")}) {
    ScratchFolder folder;
    const std::string path = folder.Path("one.txt");
    g_other_name = folder.Path("two.txt");
    WriteWhole(path, "old contents");
    ASSERT_TRUE(::CreateHardLinkA(g_other_name.c_str(), path.c_str(), nullptr));
    const ULONGLONG index = FileIndex(path);
    g_seen.clear();
    set_replace_probe([](replace_moment moment) {
      if (moment != replace_moment::before_check) g_seen.push_back(SizeByName(g_other_name));
    });
    replace_failure failure;
    const bool replaced = Replace(path, text, failure);
    set_replace_probe(nullptr);
    ASSERT_TRUE(replaced) << failure.step << " " << failure.error;
    EXPECT_EQ(ReadWhole(path), text);
    EXPECT_EQ(ReadWhole(g_other_name), text);
    EXPECT_EQ(FileIndex(path), index);
    EXPECT_EQ(FileIndex(g_other_name), index);
    // Reserved and written: as long as the longer text, never cut short.
    const ULONGLONG longer = std::max(std::strlen("old contents"), text.size());
    EXPECT_EQ(g_seen, (std::vector<ULONGLONG>{longer, longer}));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"one.txt", "two.txt"}));
  }
}

}  // namespace
}  // namespace Velk::os
