// End-to-end runs of "-s -gitignore": the files rplc works on must be
// exactly those that git does not ignore, with "git check-ignore" as the
// oracle over a tree of nested ignore files, negations, anchored and
// folder-only patterns; and the ".ignore" files on top of git's rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "run_binary.h"

namespace rplc_test {
namespace {

using Names = std::set<std::string>;

bool HaveGit() { return std::system("git --version >/dev/null 2>&1") == 0; }

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The output lines of a shell command.
std::vector<std::string> Lines(const std::string& command) {
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return lines;
  std::string line;
  for (int c; (c = std::fgetc(pipe)) != EOF;) {
    if (c != '\n') {
      line += char(c);
    } else {
      lines.push_back(line);
      line.clear();
    }
  }
  pclose(pipe);
  return lines;
}

// The files below cwd (relative names) that a "-s -gitignore" run works on:
// every file holds an X, and -frc names each one.
Names Worked(const std::string& cwd, std::vector<std::string> extra = {"-gitignore"}) {
  std::vector<std::string> args = {"-s", "*", "-f:X", "-t:X", "-frc", "-diff"};
  args.insert(args.end(), extra.begin(), extra.end());
  const RunResult r = RunRplc(args, "", cwd);
  Names names;
  const std::string head = "## 1 replacements in file: " + cwd + "/";
  for (std::size_t at = 0; (at = r.out.find(head, at)) != std::string::npos;) {
    at += head.size();
    names.insert(r.out.substr(at, r.out.find('\n', at) - at));
  }
  return names;
}

// The files of names that git, run in cwd, does not ignore.
Names NotIgnoredByGit(const std::string& cwd, const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& each : names) list += each + "\n";
  TempDir scratch;
  scratch.Write("list", list);
  const std::vector<std::string> ignored = Lines(
      "cd " + Quote(cwd) + " && git check-ignore --no-index --stdin < " +
      Quote(scratch.path() + "/list"));
  Names kept(names.begin(), names.end());
  for (const std::string& each : ignored) kept.erase(each);
  return kept;
}

const std::vector<std::string> kFiles = {
    "main.c", "a.o", "keep.o", "#hash", "trail ", "trail", "a.txt", "b.txt", "c.txt", "m.log",
    "secret1", "secretary/no.c", "build/x/a.c", "build/y.c", "node_modules/p/i.js",
    "src/build/z.c", "src/a/b/c/q.tmp", "src/a/b/c/r.c", "src/a/gen.c", "src/gen.c",
    "src/x/gen.h", "src/x/1.dat", "src/x/a.dat", "doc/a.html", "doc/b.md", "doc/sub/c.html",
    "logs/a.log", "logs/keep/k.c", "logs/b.c", "venv/lib/x.py", "sub/y.txt", "sub/x.txt",
    "sub/deep/z.c", "sub/deep/w.txt", "sub/more/v.txt", "n/target", "n/target2/t.c",
    "q/foo/bar", "q/foobar", "q/fo/o/bar", "q/[x]", "q/x"};

void FillRepository(const TempDir& dir) {
  for (const std::string& each : kFiles) dir.Write(each, "X\n");
  dir.Write(".gitignore",
            "# build output\n"
            "build/\n"
            "*.o\n"
            "!keep.o\n"
            "/doc/*.html\n"
            "node_modules\n"
            "logs/*\n"
            "!logs/keep/\n"
            "**/c/*.tmp\n"
            "src/**/gen.*\n"
            "venv/\n"
            "\\#hash\n"
            "trail\\ \n"
            "[ab].txt\n"
            "!b.txt\n"
            "*.log   \n"
            "src/x/[[:digit:]]*\n"
            "n/target*/\n"
            "q/foo*bar\n"
            "q/\\[x]\n");
  dir.Write("sub/.gitignore", "*.txt\n!/more/*.txt\ndeep/\n");
  dir.Write("sub/deep/.gitignore", "!w.txt\n");  // inside an ignored folder: never read
  ASSERT_EQ(std::system(("cd " + Quote(dir.path()) + " && git init -q .").c_str()), 0);
  dir.Write(".git/info/exclude", "secret*\n");
}

TEST(IgnoreFilesTest, TheFilesWorkedAreThoseGitDoesNotIgnore) {
  if (!HaveGit()) GTEST_SKIP() << "git is not installed";
  TempDir dir;
  FillRepository(dir);
  // The ignore files hold no X: only the files of kFiles are worked on.
  const Names expected = NotIgnoredByGit(dir.path(), kFiles);
  EXPECT_EQ(Worked(dir.path()), expected);
  // The oracle did ignore something of each kind.
  EXPECT_EQ(expected.count("build/y.c") + expected.count("keep.o") + expected.count("sub/more/v.txt"),
            2u);
  // Started in a sub-folder, the ignore files above it apply too.
  Names below;
  for (const std::string& each : NotIgnoredByGit(dir.path() + "/src", {"build/z.c", "a/b/c/q.tmp",
                                                                        "a/b/c/r.c", "a/gen.c",
                                                                        "gen.c", "x/gen.h",
                                                                        "x/1.dat", "x/a.dat"}))
    below.insert(each);
  EXPECT_EQ(Worked(dir.path() + "/src"), below);
  // Without the switch every file is worked on.
  EXPECT_EQ(Worked(dir.path(), {}).size(), kFiles.size());
}

TEST(IgnoreFilesTest, DotIgnoreFilesAndPrecedence) {
  TempDir dir;  // not a git work tree: only the tree's own files count
  for (const char* each : {"a.c", "b.c", "keep.c", "d/a.c", "d/b.c", "d/e/a.c", "x.md"})
    dir.Write(each, "X\n");
  dir.Write(".gitignore", "*.c\n");
  dir.Write(".ignore", "!keep.c\n");      // over .gitignore in the same folder
  dir.Write("d/.gitignore", "!b.c\n");    // a deeper file over a higher one
  dir.Write("d/e/.ignore", "!a.c\n");
  EXPECT_EQ(Worked(dir.path()),
            (Names{"keep.c", "d/b.c", "d/e/a.c", "x.md"}));
}

TEST(IgnoreFilesTest, WithoutSubFoldersTheSwitchChangesNothing) {
  TempDir dir;
  dir.Write(".gitignore", "*.c\n");
  dir.Write("a.c", "X\n");
  const RunResult r = RunRplc({"*.c", "-f:X", "-t:Y", "-gitignore"}, "", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("a.c"), "Y\n");
}

}  // namespace
}  // namespace rplc_test
