#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/fs/write_back.h"
#include "tests/support/fs/temp_tree.h"

namespace Velk {
namespace {

using test::Names;
using test::ReadAll;
using test::TempTree;

std::string S(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer B(const std::string& s) { return narrow_buffer(s.c_str(), narrow_buffer::size_type(s.size())); }
std::string Desc(int error) { return S(GetSysErrorDesc(error)); }

template <class Exp, class F>
std::pair<int, std::string> Catch(F&& f) {
  try {
    f();
  } catch (const Exp& e) {
    return {e.GetCode(), S(e.GetMessage())};
  }
  return {-1, ""};
}

struct stat Stat(const std::string& path) {
  struct stat status {};
  ::lstat(path.c_str(), &status);
  return status;
}


std::string ReadWhole(const std::string& path) {
  narrow_buffer out;
  CDir::ReadFile(B(path), out);
  return S(out);
}

TEST(ReadFileTest, ContentsEmptyFilesAndEmptyPath) {
  TempTree tree;
  const std::string binary("a\0b\r\n\xff", 6);
  tree.file("data", binary);
  tree.file("empty", "");
  EXPECT_EQ(ReadWhole(tree / "data"), binary);

  narrow_buffer out = B("old contents");
  narrow_buffer shared = out;
  CDir::ReadFile(B(tree / "empty"), out);
  EXPECT_EQ(out.length(), 0u);
  EXPECT_EQ(S(shared), "old contents");  // a shared buffer is not written through

  const auto got = Catch<dirExp>([&] { CDir::ReadFile(narrow_buffer(), out); });
  EXPECT_EQ(got.first, 2);
  EXPECT_EQ(got.second, "CDir::ReadFile - read what ?");
}

TEST(ReadFileTest, FileWhoseSizeIsUnknownIsReadToItsEnd) {
  // /proc files report size 0; their contents must still be read whole.
  EXPECT_NE(ReadWhole("/proc/self/status").find("Name:"), std::string::npos);
}

TEST(ReadFileTest, NonRegularFilesAreRefusedWithoutBlocking) {
  TempTree tree;
  ASSERT_EQ(::mkfifo((tree / "fifo").c_str(), 0666), 0);
  tree.dir("folder");
  const test::ChildResult result = test::RunInChild([&] {
    ::alarm(10);  // a hang ends the child instead of the test run
    std::string out;
    for (const char* name : {"fifo", "folder"}) {
      const auto got = Catch<sysfileExp>([&] { ReadWhole(tree / name); });
      out += std::to_string(got.first) + "|" + got.second + "#";
    }
    return out;
  });
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output,
            "7|CDir::ReadFile - error reading file : not a regular file\n"
            "  file name = " + tree / "fifo" + "\n"
            "  file type = FIFO#"
            "7|CDir::ReadFile - error reading file : not a regular file\n"
            "  file name = " + tree / "folder" + "\n"
            "  file type = directory#");
}

TEST(ReadFileTest, FilesTooLargeForTheBufferAreRefusedWithCode17) {
  TempTree tree;
  const struct {
    const char* name;
    std::uint64_t size;
  } cases[] = {{"five_gib", 5ull << 30}, {"just_too_big", 0xFFFFFFFEull}};
  for (const auto& c : cases) {
    tree.file(c.name, "");
    ASSERT_EQ(::truncate((tree / c.name).c_str(), off_t(c.size)), 0);  // sparse
    const auto got = Catch<sysfileExp>([&] { ReadWhole(tree / c.name); });
    EXPECT_EQ(got.first, 17);
    EXPECT_EQ(got.second, "CDir::ReadFile - error reading file : file too large\n"
                          "  file name  = " + tree / c.name + "\n"
                          "  file size  = " + std::to_string(c.size) + "\n"
                          "  sys error  = 27\n"
                          "  error desc = " + Desc(27));
  }
}

struct WriteCase {
  const char* before;  // nullptr: the file is missing
  const char* data;
  bool append;
  const char* after;
};

TEST(WriteFileTest, ReplaceCreateAndAppend) {
  const WriteCase cases[] = {
      {nullptr, "new", false, "new"},
      {"a much longer old text", "short", false, "short"},
      {"short", "a much longer new text", false, "a much longer new text"},
      {"something", "", false, ""},
      {"old", "+more", true, "old+more"},
      {nullptr, "fresh", true, "fresh"},
  };
  for (const WriteCase& c : cases) {
    TempTree tree;
    if (c.before) tree.file("f", c.before);
    CDir::WriteFile(B(tree / "f"), B(c.data), false, c.append);
    EXPECT_EQ(ReadAll(tree / "f"), c.after) << c.data;
    EXPECT_EQ(Names(tree.path()), std::vector<std::string>{"f"}) << "nothing left behind";
  }
  TempTree tree;
  tree.file("f", "old");
  CDir::WriteFile(B(tree / "f"), B("flushed"), true, false);
  EXPECT_EQ(ReadAll(tree / "f"), "flushed");

  const auto got = Catch<dirExp>([&] { CDir::WriteFile(narrow_buffer(), B("x"), false, false); });
  EXPECT_EQ(got.first, 2);
  EXPECT_EQ(got.second, "CDir::WriteFile - write what ?");
}

TEST(WriteFileTest, PermissionsAndOwnerAreKept) {
  TempTree tree;
  tree.file("f", "old");
  ASSERT_EQ(::chmod((tree / "f").c_str(), 02640), 0);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((tree / "f").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod((tree / "f").c_str(), 02640), 0);  // chown cleared set-group-ID
  }
  const struct stat before = Stat(tree / "f");
  CDir::WriteFile(B(tree / "f"), B("new"), false, false);
  const struct stat after = Stat(tree / "f");
  EXPECT_EQ(ReadAll(tree / "f"), "new");
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_NE(after.st_ino, before.st_ino) << "replaced through a temporary file";
}

TEST(WriteFileTest, HardLinksKeepSharingTheContents) {
  TempTree tree;
  tree.file("a", "old");
  ASSERT_EQ(::link((tree / "a").c_str(), (tree / "b").c_str()), 0);
  const ino_t inode = Stat(tree / "a").st_ino;
  CDir::WriteFile(B(tree / "a"), B("new and longer"), false, false);
  EXPECT_EQ(ReadAll(tree / "b"), "new and longer");
  EXPECT_EQ(Stat(tree / "a").st_ino, inode);
  CDir::WriteFile(B(tree / "b"), B("cut"), false, false);
  EXPECT_EQ(ReadAll(tree / "a"), "cut");
  EXPECT_EQ(Names(tree.path()), (std::vector<std::string>{"a", "b"}));
}

TEST(WriteFileTest, SymbolicLinkStaysALinkAndItsTargetChanges) {
  TempTree tree;
  tree.dir("real");
  tree.dir("links");
  tree.file("real/f", "old");
  tree.link("../real/f", "links/f");
  tree.link("f", "links/chain");  // a link to a link
  CDir::WriteFile(B(tree / "links/f"), B("new"), false, false);
  CDir::WriteFile(B(tree / "links/chain"), B("newer"), false, false);
  EXPECT_TRUE(S_ISLNK(Stat(tree / "links/f").st_mode));
  EXPECT_TRUE(S_ISLNK(Stat(tree / "links/chain").st_mode));
  EXPECT_EQ(ReadAll(tree / "real/f"), "newer");
  EXPECT_EQ(Names(tree / "real"), std::vector<std::string>{"f"});
  EXPECT_EQ(Names(tree / "links"), (std::vector<std::string>{"chain", "f"}));
}

TEST(WriteFileTest, NonRegularTargetsAreRefused) {
  TempTree tree;
  ASSERT_EQ(::mkfifo((tree / "fifo").c_str(), 0666), 0);
  const test::ChildResult result = test::RunInChild([&] {
    ::alarm(10);
    // No reader: opening fails at once instead of waiting for one.
    const auto alone = Catch<sysfileExp>([&] { CDir::WriteFile(B(tree / "fifo"), B("x"), false, false); });
    const int reader = ::open((tree / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    const auto read = Catch<sysfileExp>([&] { CDir::WriteFile(B(tree / "fifo"), B("x"), false, false); });
    ::close(reader);
    return std::to_string(alone.first) + "|" + std::to_string(read.first) + "|" + read.second;
  });
  EXPECT_EQ(result.output, "4|9|CDir::WriteFile - error writing file : not a regular file\n"
                           "  file name = " + tree / "fifo" + "\n"
                           "  file type = FIFO");
}

TEST(WriteFileTest, UnwritableFileFailsAtOpenAndStaysUntouched) {
  TempTree tree;
  tree.file("ro", "keep me");
  ASSERT_EQ(::chmod((tree / "ro").c_str(), 0444), 0);
  const test::ChildResult result = test::RunInChild(
      [&] {
        const auto got = Catch<sysfileExp>([&] { CDir::WriteFile(B(tree / "ro"), B("x"), false, false); });
        return std::to_string(got.first) + "|" + got.second;
      },
      true);
  if (result.status == 99) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(result.output, "4|CSysFile::Open - error open file\n"
                           "  file name  = " + tree / "ro" + "\n"
                           "  sys error  = 13\n"
                           "  error desc = " + Desc(13));
  EXPECT_EQ(ReadAll(tree / "ro"), "keep me");
}

TEST(WriteFileTest, FolderRefusingTheTemporaryFileOrOwnerThatCannotBeKeptRewritesInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to set up foreign owners";
  TempTree tree;
  tree.dir("locked");
  tree.file("locked/f", "old");
  tree.file("foreign", "old");
  ::chmod((tree / "locked/f").c_str(), 0666);
  ::chmod((tree / "foreign").c_str(), 0666);  // owned by root, writable by all
  ::chmod((tree / "locked").c_str(), 0755);   // nobody may not create files here
  const ino_t locked = Stat(tree / "locked/f").st_ino;
  const ino_t foreign = Stat(tree / "foreign").st_ino;
  const test::ChildResult result = test::RunInChild(
      [&] {
        CDir::WriteFile(B(tree / "locked/f"), B("grown to a longer text"), false, false);
        CDir::WriteFile(B(tree / "foreign"), B("cut"), false, false);
        return std::string("done");
      },
      true);
  if (result.status == 99) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(result.output, "done");
  EXPECT_EQ(ReadAll(tree / "locked/f"), "grown to a longer text");
  EXPECT_EQ(ReadAll(tree / "foreign"), "cut");
  EXPECT_EQ(Stat(tree / "locked/f").st_ino, locked);
  EXPECT_EQ(Stat(tree / "foreign").st_ino, foreign);
  EXPECT_EQ(Stat(tree / "foreign").st_uid, 0u);
  EXPECT_EQ(Names(tree.path()), (std::vector<std::string>{"foreign", "locked"}));
}

TEST(WriteFileTest, FileSizeLimitLeavesTheOriginalIntactAndNoTemporaryFile) {
  TempTree tree;
  tree.file("plain", "original");
  tree.file("linked", "original");
  ASSERT_EQ(::link((tree / "linked").c_str(), (tree / "other").c_str()), 0);
  const test::ChildResult result = test::RunInChild([&] {
    InstallWriteBackSignalHandlers();  // a size limit must fail, not kill
    const struct rlimit limit = {1000, 1000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const narrow_buffer big = B(std::string(5000, 'x'));
    std::string out;
    for (const char* name : {"plain", "linked"}) {
      const auto got = Catch<sysfileExp>([&] { CDir::WriteFile(B(tree / name), big, false, false); });
      out += std::to_string(got.first) + "|" + got.second + "#";
    }
    return out;
  });
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output,
            "9|CDir::WriteFile - error replace file contents\n"
            "  file name   = " + tree / "plain" + "\n"
            "  failed step = write the new contents to a temporary file\n"
            "  sys error   = 27\n"
            "  error desc  = " + Desc(27) + "#"
            "9|CDir::WriteFile - error replace file contents\n"
            "  file name   = " + tree / "linked" + "\n"
            "  failed step = reserve space for the new contents\n"
            "  sys error   = 27\n"
            "  error desc  = " + Desc(27) + "#");
  EXPECT_EQ(ReadAll(tree / "plain"), "original");
  EXPECT_EQ(ReadAll(tree / "linked"), "original");
  EXPECT_EQ(Names(tree.path()), (std::vector<std::string>{"linked", "other", "plain"}));
}

TEST(WriteFileTest, InterruptDuringWriteBackLeavesWholeFileAndNoTemporaryFile) {
  TempTree tree;
  const std::size_t size = 16u << 20;
  tree.file("f", std::string(size, 'a'));
  const narrow_buffer a = B(std::string(size, 'a')), b = B(std::string(size, 'b'));
  const pid_t pid = ::fork();
  if (pid == 0) {
    InstallWriteBackSignalHandlers();
    for (int round = 0; round < 1000; ++round)
      CDir::WriteFile(B(tree / "f"), round % 2 ? a : b, false, false);
    ::_exit(0);
  }
  // Strike while a temporary file exists, named or not.
  for (int wait = 0; wait < 10000 && Names(tree.path()).size() < 2 &&
                     !test::HoldsUnnamedFile(pid, tree.path());
       ++wait)
    ::usleep(1000);
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM) << "ended the way the signal ends it";
  EXPECT_EQ(Names(tree.path()), std::vector<std::string>{"f"});
  const std::string text = ReadAll(tree / "f");
  EXPECT_EQ(text.size(), size);
  EXPECT_TRUE(text == std::string(size, 'a') || text == std::string(size, 'b'));
}

TEST(WriteFileTest, SignalHandlersRespectIgnoredSignals) {
  const test::ChildResult result = test::RunInChild([] {
    ::signal(SIGHUP, SIG_IGN);
    InstallWriteBackSignalHandlers();
    struct sigaction hup, term, xfsz;
    ::sigaction(SIGHUP, nullptr, &hup);
    ::sigaction(SIGTERM, nullptr, &term);
    ::sigaction(SIGXFSZ, nullptr, &xfsz);
    return std::string(hup.sa_handler == SIG_IGN ? "ign" : "set") +
           (term.sa_handler != SIG_DFL && term.sa_handler != SIG_IGN ? ",set" : ",dfl") +
           (xfsz.sa_handler == SIG_IGN ? ",ign" : ",dfl");
  });
  EXPECT_EQ(result.output, "ign,set,ign");
}

}  // namespace
}  // namespace Velk
