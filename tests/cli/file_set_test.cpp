// End-to-end runs of rplc over the files its patterns name: a git working
// tree, long lists of names, and the exit status of the file set.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "run_binary.h"
#include "tests/support/fs/deep_chain.h"

namespace rplc_test {
namespace {

struct stat StatOf(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return info;
}

TEST(FileSetTest, RecursionLeavesARepositoryAlone) {
  TempDir dir;
  dir.Write("a.txt", "see a.txt\n");
  dir.Write("lib/b.txt", "a.txt\n");
  dir.Write(".git/index", "staged a.txt\n");
  dir.Write(".git/logs/HEAD", "renamed a.txt\n");
  dir.Write("lib/.hg/store", "a.txt\n");
  const struct stat index = StatOf(dir.path() + "/.git/index");
  const RunResult r = RunRplc({"-s", "*", "-f:a.txt", "-t:b.txt", "-trc"}, "", dir.path());
  EXPECT_EQ(r.out, "\n## total replaced 2 matchs\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("a.txt"), "see b.txt\n");
  EXPECT_EQ(dir.Read("lib/b.txt"), "b.txt\n");
  EXPECT_EQ(dir.Read(".git/index"), "staged a.txt\n");
  EXPECT_EQ(dir.Read(".git/logs/HEAD"), "renamed a.txt\n");
  EXPECT_EQ(dir.Read("lib/.hg/store"), "a.txt\n");
  const struct stat after = StatOf(dir.path() + "/.git/index");
  EXPECT_EQ(after.st_ino, index.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, index.st_mtim.tv_nsec);
  // Named explicitly, a file inside one is processed.
  const RunResult named = RunRplc({".git/logs/HEAD", "-f:a.txt", "-t:c.txt"}, "", dir.path());
  EXPECT_EQ(named.status, 0);
  EXPECT_EQ(dir.Read(".git/logs/HEAD"), "renamed c.txt\n");
}

// "ls | xargs rplc ...": every name given on its own finds what one
// wildcard finds, in the order given; one missing name refuses the run.
TEST(FileSetTest, NamesGivenOneByOne) {
  TempDir dir;
  std::vector<std::string> args = {"-f:x", "-t:y", "-frc"};
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    dir.Write(name, "x");
    args.push_back(name);
    expected += "\n## 1 replacements in file: " + dir.path() + "/" + name + "\n";
  }
  args.push_back("missing.txt");
  const RunResult refused = RunRplc(args, "", dir.path());
  EXPECT_EQ(refused.err, "[ERROR] no such file: missing.txt\n");
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.status, 255);
  EXPECT_EQ(dir.Read("f0.txt"), "x");
  args.pop_back();
  const RunResult r = RunRplc(args, "", dir.path());
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("f299.txt"), "y");
}

// "rplc -s *.txt" with the wildcard expanded by the shell: each name is
// looked for in every folder, in the order given, a folder's name stands
// for its files, and a name found nowhere refuses the run.
TEST(FileSetTest, NamesGivenWithSubFoldersAreEachLookedForInEveryFolder) {
  TempDir dir;
  for (const char* name : {"a.txt", "b.txt", "sub/a.txt", "sub/b.txt", "sub/deep/b.txt",
                           "files/.h.txt"})
    dir.Write(name, "x");
  std::vector<std::string> args = {"-s", "b.txt", "a.txt", "files", "b.txt", "-f:x",
                                   "-t:y", "-frc"};
  const RunResult r = RunRplc(args, "", dir.path());
  std::string expected;
  for (const char* name : {"b.txt", "sub/b.txt", "sub/deep/b.txt", "a.txt", "sub/a.txt",
                           "files/.h.txt"})
    expected += std::string("\n## 1 replacements in file: ") + dir.path() + "/" + name + "\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("sub/deep/b.txt"), "y");
  args.insert(args.begin() + 3, "missing.txt");
  const RunResult refused = RunRplc(args, "", dir.path());
  EXPECT_EQ(refused.err, "[ERROR] no such file: missing.txt\n");
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.status, 255);
}

// A tree deeper than a path may be long is walked: its files are either
// processed or reported as failures, never skipped in silence.
TEST(FileSetTest, ADeepTreeIsNeverSkippedSilently) {
  TempDir dir;
  dir.Write("top.txt", "x");
  const Velk::test::DeepChain chain(dir.path());
  ASSERT_TRUE(chain.ok());
  for (const char* errstop : {"-s", "-errstop"}) {
    const RunResult r = RunRplc({"-s", "*.txt", "-f:x", "-t:y", errstop}, "", dir.path());
    // Read relative to its folder, it may still be beyond a path's reach
    // when it is written back.
    const bool reported =
        r.err.find("[ERROR] failed reading file: " + chain.DeepFile() + "\n") != std::string::npos ||
        r.err.find("[ERROR] can't write to file: " + chain.DeepFile() + "\n") != std::string::npos;
    EXPECT_TRUE(reported || r.status == 0) << r.err;
    EXPECT_EQ(r.status, reported ? 255 : 0);
  }
  EXPECT_EQ(dir.Read("top.txt"), "y");
}

}  // namespace
}  // namespace rplc_test
