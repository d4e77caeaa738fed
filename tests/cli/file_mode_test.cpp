// End-to-end runs of rplc rewriting files in temporary folders.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "run_binary.h"
#include "tests/support/core/sanitizers.h"

namespace rplc_test {
namespace {

struct stat StatOf(const std::string& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  return info;
}

TEST(FileModeTest, RewritesMatchingFilesAndReportsCounts) {
  TempDir dir;
  dir.Write("a.txt", "teh cat, teh hat\n");
  dir.Write("b.txt", "nothing here\n");
  dir.Write("c.log", "teh\n");
  const RunResult r = RunRplc({"*.txt", "-f:teh", "-t:the", "-frc", "-trc"}, "", dir.path());
  EXPECT_EQ(r.out, "\n## 2 replacements in file: " + dir.path() + "/a.txt\n" +
                       "\n## total replaced 2 matchs\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("a.txt"), "the cat, the hat\n");
  EXPECT_EQ(dir.Read("c.log"), "teh\n");
}

TEST(FileModeTest, AFileWithoutAMatchIsNeverTouched) {
  TempDir dir;
  const std::string path = dir.Write("same.txt", "unchanged\n");
  struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old_times, 0), 0);
  const struct stat before = StatOf(path);
  const RunResult r = RunRplc({"*.txt", "-f:zzz", "-t:y"}, "", dir.path());
  EXPECT_EQ(r.status, 0);
  const struct stat after = StatOf(path);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST(FileModeTest, NoMatchingFileIsFatal) {
  TempDir dir;
  dir.Write("a.txt", "x");
  const RunResult r = RunRplc({"*.nosuch", "-f:x", "-t:y"}, "", dir.path());
  EXPECT_EQ(r.err, "[FATAL ERROR] can't find the file(s)!\n");
  EXPECT_EQ(r.status, 255);
  // One pattern without files among others that match is fine.
  const RunResult ok = RunRplc({"*.nosuch", "a.txt", "-f:x", "-t:y"}, "", dir.path());
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(dir.Read("a.txt"), "y");
}

TEST(FileModeTest, MissingFolderInAPatternEndsTheRun) {
  TempDir dir;
  dir.Write("a.txt", "x");
  const RunResult r = RunRplc({"a.txt", "nosuch/*.txt", "-f:x", "-t:y"}, "", dir.path());
  EXPECT_EQ(r.err, "[FATAL ERROR] Velk runtime lib error: CDir::Open - error open dir : not exist\n"
                   "  dir to open         = " + dir.path() + "/nosuch/\n"
                   "  current working dir = " + dir.path() + "/\n\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(dir.Read("a.txt"), "x");
}

TEST(FileModeTest, AFileMatchedByTwoPatternsIsWorkedOnce) {
  TempDir dir;
  dir.Write("ab.txt", "a");
  const RunResult r =
      RunRplc({"*.txt", "a*.txt", "ab.txt", "-f:a", "-t:aa", "-frc", "-trc"}, "", dir.path());
  EXPECT_EQ(dir.Read("ab.txt"), "aa");
  EXPECT_EQ(r.out, "\n## 1 replacements in file: " + dir.path() + "/ab.txt\n" +
                       "\n## total replaced 1 matchs\n");
}

TEST(FileModeTest, StdoutModeWritesNoFileAndNoCountLine) {
  TempDir dir;
  dir.Write("a.txt", "one a\n");
  dir.Write("empty.txt", "");
  const RunResult r = RunRplc({"a.txt", "empty.txt", "-f:a", "-t:b", "-stdout", "-frc", "-trc"},
                              "", dir.path());
  EXPECT_EQ(r.out, "one b\n\n## total replaced 1 matchs\n");
  EXPECT_EQ(dir.Read("a.txt"), "one a\n");
}

TEST(FileModeTest, SubFoldersHiddenFilesAndNoFolderLinks) {
  TempDir dir;
  dir.Write("top.txt", "x");
  dir.Write(".hidden.txt", "x");
  dir.Write("sub/deep/d.txt", "x");
  dir.Write(".hid/h.txt", "x");
  ASSERT_EQ(symlink(dir.path().c_str(), (dir.path() + "/sub/loop").c_str()), 0);
  const RunResult r = RunRplc({"-s", "*.txt", "-f:x", "-t:y", "-trc"}, "", dir.path());
  EXPECT_EQ(r.out, "\n## total replaced 4 matchs\n");
  EXPECT_EQ(r.status, 0);
  for (const char* name : {"top.txt", ".hidden.txt", "sub/deep/d.txt", ".hid/h.txt"})
    EXPECT_EQ(dir.Read(name), "y") << name;
  // Without -s only the top folder.
  dir.Write("sub/deep/d.txt", "x");
  RunRplc({"*.txt", "-f:y", "-t:z"}, "", dir.path());
  EXPECT_EQ(dir.Read("sub/deep/d.txt"), "x");
  EXPECT_EQ(dir.Read("top.txt"), "z");
}

TEST(FileModeTest, RelativeFolderPatternsAndAbsolutePathsAfterDoubleDash) {
  TempDir dir;
  dir.Write("sub/a.txt", "x");
  dir.Write("sub/b.txt", "x");
  RunResult r = RunRplc({"sub/a.txt", "-f:x", "-t:y", "-frc"}, "", dir.path());
  EXPECT_EQ(r.out, "\n## 1 replacements in file: " + dir.path() + "/sub/a.txt\n");
  r = RunRplc({"sub", "-f:x", "-t:z"}, "", dir.path());  // a folder: all its files
  EXPECT_EQ(dir.Read("sub/b.txt"), "z");
  r = RunRplc({"-f:z", "-t:w", "--", dir.path() + "/sub/b.txt"}, "", "/");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("sub/b.txt"), "w");
}

TEST(FileModeTest, LinksAndSpecialFilesAreLeftToWildcardsAndReportedWhenNamed) {
  TempDir dir;
  dir.Write("a.txt", "x");
  ASSERT_EQ(symlink("nowhere", (dir.path() + "/dangling.txt").c_str()), 0);
  ASSERT_EQ(mkfifo((dir.path() + "/fifo.txt").c_str(), 0600), 0);
  RunResult r = RunRplc({"*.txt", "-f:x", "-t:y", "-trc"}, "", dir.path());
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\n## total replaced 1 matchs\n");
  EXPECT_EQ(r.status, 0);
  // Named exactly: a dangling link names no file, a FIFO cannot be read.
  r = RunRplc({"dangling.txt", "-f:y", "-t:z"}, "", dir.path());
  EXPECT_EQ(r.err, "[ERROR] no such file: dangling.txt\n");
  EXPECT_EQ(r.status, 255);
  r = RunRplc({"fifo.txt", "a.txt", "-f:y", "-t:z", "-trc"}, "", dir.path());
  EXPECT_EQ(r.err, "[ERROR] failed reading file: " + dir.path() + "/fifo.txt\n"
                   "  CDir::ReadFile - error reading file : not a regular file\n"
                   "  file name = " + dir.path() + "/fifo.txt\n"
                   "  file type = FIFO\n");
  EXPECT_EQ(r.out, "\n## total replaced 1 matchs\n");
  EXPECT_EQ(r.status, 255);  // after every other file was done
  r = RunRplc({"fifo.txt", "a.txt", "-f:z", "-t:w", "-errstop"}, "", dir.path());
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(dir.Read("a.txt"), "z");
}

// A read that fails for want of memory says so, like every other failure
// line: the reason follows the name.
TEST(FileModeTest, AReadOutOfMemoryGivesItsReason) {
#if defined(RPLC_ASAN) || defined(RPLC_TSAN)
  GTEST_SKIP() << "the sanitizer reserves more address space than the limit";
#endif
  TempDir dir;
  const std::string big = dir.path() + "/big.txt";
  dir.Write("big.txt", "");
  ASSERT_EQ(truncate(big.c_str(), 1L << 30), 0);  // sparse: no disk used
  dir.Write("small.txt", "x");
  // Read whole ("-rnnl" never streams).
  RunResult r = RunRplcUnder({"prlimit", "--as=400000000", "--"},
                             {"big.txt", "small.txt", "-rnnl:x", "-t:y", "-diff"}, dir.path(),
                             nullptr);
  EXPECT_EQ(r.err, "[ERROR] failed reading file: " + big + "\n"
                   "  vc runtime lib error: basic_buffer::__realloc - failed reallocating "
                   "memory\n");
  EXPECT_NE(r.out.find("+y"), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 255);
  // Streamed: a preview holds the line being read, here all of the file.
  r = RunRplcUnder({"prlimit", "--as=400000000", "--"},
                   {"big.txt", "small.txt", "-f:x", "-t:y", "-diff"}, dir.path(), nullptr);
  EXPECT_EQ(r.err, "[ERROR] failed processing file: " + big + "\n"
                   "  vc runtime lib error: basic_buffer::__realloc - failed reallocating "
                   "memory\n");
  EXPECT_NE(r.out.find("+y"), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 255);
  // Rewritten streamed: a line-bounded find keeps the line being read.
  r = RunRplcUnder({"prlimit", "--as=400000000", "--"}, {"big.txt", "small.txt", "-r:x$", "-t:y"},
                   dir.path(), nullptr);
  EXPECT_EQ(r.err, "[ERROR] failed processing file: " + big + "\n"
                   "  vc runtime lib error: basic_buffer::__realloc - failed reallocating "
                   "memory\n");
  EXPECT_EQ(dir.Read("small.txt"), "y");
  EXPECT_EQ(r.status, 255);
}

TEST(FileModeTest, AFailedWriteKeepsTheFileAndTheRunGoesOn) {
  TempDir dir;
  const std::string big(10000, 'x');
  dir.Write("1big.txt", big);
  dir.Write("2small.txt", "x");
  const RunResult r = RunRplc({"1big.txt", "2small.txt", "-f:x", "-t:y", "-trc"}, "",
                              dir.path(), "", 4096);
  EXPECT_EQ(r.err.rfind("[ERROR] can't write to file: " + dir.path() + "/1big.txt\n  ", 0), 0u)
      << r.err;
  EXPECT_EQ(dir.Read("1big.txt"), big);
  EXPECT_EQ(dir.Read("2small.txt"), "y");
  EXPECT_EQ(r.out, "\n## total replaced 1 matchs\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"1big.txt", "2small.txt"}));
  const RunResult stop = RunRplc({"1big.txt", "2small.txt", "-f:x", "-t:y", "-errstop"}, "",
                                 dir.path(), "", 4096);
  EXPECT_EQ(stop.status, 255);
}

TEST(FileModeTest, PermissionsHardLinksAndSymlinksSurviveTheRewrite) {
  TempDir dir;
  const std::string path = dir.Write("mode.txt", "x");
  chmod(path.c_str(), 0640);
  dir.Write("linked.txt", "x");
  ASSERT_EQ(link((dir.path() + "/linked.txt").c_str(), (dir.path() + "/other").c_str()), 0);
  dir.Write("target.dat", "x");
  ASSERT_EQ(symlink("target.dat", (dir.path() + "/via.txt").c_str()), 0);
  const RunResult r = RunRplc({"*.txt", "via.txt", "-f:x", "-t:yy"}, "", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(StatOf(path).st_mode & 07777, 0640u);
  EXPECT_EQ(dir.Read("other"), "yy");
  EXPECT_TRUE(S_ISLNK(StatOf(dir.path() + "/via.txt").st_mode));
  EXPECT_EQ(dir.Read("target.dat"), "yy");
}

}  // namespace
}  // namespace rplc_test
