// End-to-end runs over trees that mix symbolic links, hard links, binary
// files, deep folders and odd names: each file is worked once, links and
// binary files are left to wildcards, slips are refused before anything is
// touched, and folders that cannot be searched are reported.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run_binary.h"
#include "tree_state.h"

namespace rplc_test {
namespace {

void Link(const TempDir& dir, const std::string& target, const std::string& name) {
  ASSERT_EQ(symlink(target.c_str(), (dir.path() + "/" + name).c_str()), 0) << name;
}

void HardLink(const TempDir& dir, const std::string& existing, const std::string& name) {
  ASSERT_EQ(link((dir.path() + "/" + existing).c_str(), (dir.path() + "/" + name).c_str()), 0);
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(RealTreeTest, EachFileIsWorkedOnceWhateverNamesReachIt) {
  struct {
    const char* label;
    std::vector<std::string> names;
    const char* reported;  // the one name reported by -frc
  } const rows[] = {
      {"a link beside its target, by wildcard", {"*.h"}, nullptr},
      {"target, then link", {"real.h", "alias.h"}, "real.h"},
      {"link, then target", {"alias.h", "real.h"}, "alias.h"},
      {"the same name twice", {"real.h", "real.h"}, "real.h"},
      {"a hard link, then the other name", {"sub/hard.h", "real.h"}, "sub/hard.h"},
      {"overlapping patterns", {"r*.h", "*.h", "real.h", "./real.h"}, "real.h"},
      {"with sub-folders", {"-s", "*.h"}, nullptr},
      {"a link to the folder", {"linked/real.h", "real.h"}, "linked/real.h"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    TempDir dir;
    dir.Write("real.h", "v1\n");
    dir.Write("sub/x", "");
    Link(dir, "real.h", "alias.h");
    Link(dir, ".", "linked");
    HardLink(dir, "real.h", "sub/hard.h");
    for (const bool preview : {true, false}) {
      std::vector<std::string> args =
          With(row.names, {"-r:v([0-9])", "-t:v\\1.0", "-frc", "-trc"});
      if (preview) args.push_back("-diff");
      const RunResult r = RunRplc(args, "", dir.path());
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.status, 0);
      const std::string total = "\n## total replaced 1 matchs\n";
      ASSERT_GE(r.out.size(), total.size()) << r.out;
      EXPECT_EQ(r.out.substr(r.out.size() - total.size()), total) << r.out;
      if (row.reported) {
        const std::string line =
            "\n## 1 replacements in file: " + dir.path() + "/" + row.reported + "\n";
        EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
      }
      if (preview) {
        EXPECT_EQ(r.out.find("--- "), r.out.rfind("--- ")) << "one diff: " << r.out;
        EXPECT_EQ(dir.Read("real.h"), "v1\n");
      }
    }
    EXPECT_EQ(dir.Read("real.h"), "v1.0\n");
    EXPECT_EQ(dir.Read("sub/hard.h"), "v1.0\n");
  }
}

// A link named exactly, before a wildcard that lists its target: the target
// is rewritten as a new file (a new inode) while the walk goes on, so the
// listing must not be able to see it as another file.
TEST(RealTreeTest, ALinkNamedBeforeAWildcardLeavesItsTargetToTheLink) {
  const std::vector<std::string> rows[] = {
      {"alias.h", "*.h"}, {"alias.h", "r*.h"}, {"linked/real.h", "*.h"}};
  for (const auto& names : rows) {
    SCOPED_TRACE(names[0] + " " + names.back());
    TempDir dir;
    dir.Write("real.h", "v1\n");
    Link(dir, "real.h", "alias.h");
    Link(dir, ".", "linked");
    const RunResult r =
        RunRplc(With(names, {"-r:v([0-9])", "-t:v\\1.0", "-frc", "-trc"}), "", dir.path());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n## 1 replacements in file: " + dir.path() + "/" + names[0] +
                         "\n\n## total replaced 1 matchs\n");
    EXPECT_EQ(dir.Read("real.h"), "v1.0\n");
  }
}

TEST(RealTreeTest, BinaryFilesAreLeftToWildcardsUnlessAskedFor) {
  const std::string binary("PK\3\4\0\0old\n", 10);
  const std::string late = std::string(8192, 'x') + std::string("\0old\n", 5);
  struct {
    const char* label;
    std::vector<std::string> args;
    bool binary_worked;
    const char* out;  // with "DIR" for the folder
  } const rows[] = {
      {"by wildcard", {"*.dat"}, false, ""},
      {"by wildcard with -frc", {"*.dat", "-frc"}, false,
       "\n## skipped binary file: DIR/bin.dat\n"
       "\n## 1 replacements in file: DIR/late.dat\n"
       "\n## 1 replacements in file: DIR/text.dat\n"},
      {"by -s", {"-s", "*.dat"}, false, ""},
      {"by naming the folder", {"."}, false, ""},
      {"named exactly", {"bin.dat", "late.dat", "text.dat"}, true, ""},
      {"with -binary", {"*.dat", "-binary"}, true, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    TempDir dir;
    Fill(dir, {{"bin.dat", binary}, {"late.dat", late}, {"text.dat", "old\n"}});
    const auto before = TreeState(dir.path());
    const RunResult r = RunRplc(With(row.args, {"-f:old", "-t:new"}), "", dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    if (*row.out) {
      std::string expected = row.out;
      for (std::size_t at; (at = expected.find("DIR")) != std::string::npos;)
        expected.replace(at, 3, dir.path());
      // Listing order is the file system's: compare the lines as a set.
      auto lines = [](const std::string& text) {
        std::multiset<std::string> set;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) set.insert(line);
        return set;
      };
      EXPECT_EQ(lines(r.out), lines(expected)) << r.out;
    }
    const auto after = TreeState(dir.path());
    EXPECT_EQ(after.at("bin.dat") == before.at("bin.dat"), !row.binary_worked);
    EXPECT_EQ(dir.Read("late.dat").substr(8193), "new\n") << "a NUL past the first block";
    EXPECT_EQ(dir.Read("text.dat"), "new\n");
  }
  // Standard input is always filtered byte for byte.
  EXPECT_EQ(RunRplc({"-f:old", "-t:new"}, binary).out, std::string("PK\3\4\0\0new\n", 10));
}

TEST(RealTreeTest, WildcardsNeverFollowLinksOutOfTheTree) {
  TempDir root;
  Fill(root, {{"outside/settings.conf", "key=old\n"}, {"tree/own.conf", "key=old\n"},
              {"tree/sub/deep.conf", "key=old\n"}});
  const std::string tree = root.path() + "/tree";
  ASSERT_EQ(symlink("../outside/settings.conf", (tree + "/linked.conf").c_str()), 0);
  ASSERT_EQ(symlink((root.path() + "/outside/settings.conf").c_str(),
                    (tree + "/absolute.conf").c_str()), 0);
  ASSERT_EQ(symlink("../outside", (tree + "/out").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (tree + "/dangling.conf").c_str()), 0);
  const auto outside = TreeState(root.path() + "/outside");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"*.conf"}, {"-s", "*"}, {"-s", "*.conf", "-diff"}}) {
    SCOPED_TRACE(args.back());
    const RunResult r = RunRplc(With(args, {"-f:old", "-t:new", "-frc"}), "", tree);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find("settings"), std::string::npos) << r.out;
    EXPECT_TRUE(TreeState(root.path() + "/outside") == outside) << "the outside file changed";
  }
  EXPECT_EQ(root.Read("tree/own.conf"), "key=new\n");
  EXPECT_EQ(root.Read("tree/sub/deep.conf"), "key=new\n");
  // A link named exactly is followed, and stays a link.
  const RunResult named = RunRplc({"linked.conf", "-f:old", "-t:new"}, "", tree);
  EXPECT_EQ(named.status, 0);
  EXPECT_EQ(root.Read("outside/settings.conf"), "key=new\n");
  struct stat info {};
  ASSERT_EQ(lstat((tree + "/linked.conf").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

TEST(RealTreeTest, SlipsAreRefusedBeforeAnythingIsTouched) {
  const std::string hint =
      "  switches after \"--\" are file names: give switches before \"--\"\n";
  struct {
    const char* label;
    std::vector<std::string> args;
    std::string err;
  } const rows[] = {
      {"a blank for the colon", {"*.txt", "-f:old", "-t", "new"},
       "[ERROR] no such file: new\n"},
      {"a switch after --", {"-f:old", "-t:new", "--", "*.txt", "-diff"},
       "[ERROR] no such file: -diff\n" + hint},
      {"a slash switch after --", {"-f:old", "-t:new", "--", "a.txt", "/s"},
       "[ERROR] no such file: /s\n" + hint},
      {"a missing name among good ones", {"a.txt", "b.txt", "c.txt", "-f:old", "-t:new"},
       "[ERROR] no such file: b.txt\n[ERROR] no such file: c.txt\n"},
      {"in no folder of the walk", {"-s", "a.txt", "nosuch.txt", "-f:old", "-t:new"},
       "[ERROR] no such file: nosuch.txt\n"},
      {"below a missing folder", {"a.txt", "nosub/a.txt", "-f:old", "-t:new"},
       "[ERROR] no such file: nosub/a.txt\n"},
      {"a dangling link named", {"a.txt", "dangling.txt", "-f:old", "-t:new"},
       "[ERROR] no such file: dangling.txt\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    TempDir dir;
    Fill(dir, {{"a.txt", "old\n"}, {"sub/a.txt", "old\n"}});
    Link(dir, "nowhere", "dangling.txt");
    const auto before = TreeState(dir.path());
    const RunResult r = RunRplc(row.args, "", dir.path());
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(TreeState(dir.path()) == before) << "something was written";
  }
  // Wildcards that match nothing keep their rule.
  TempDir dir;
  dir.Write("a.txt", "old\n");
  EXPECT_EQ(RunRplc({"*.none", "a.txt", "-f:old", "-t:new"}, "", dir.path()).status, 0);
  const RunResult none = RunRplc({"*.none", "-f:old", "-t:new"}, "", dir.path());
  EXPECT_EQ(none.err, "[FATAL ERROR] can't find the file(s)!\n");
  EXPECT_EQ(none.status, 255);
}

// A tree much deeper than the descriptor limit allows folders to be held
// open, with a file and a leaf folder at every level, so the walk comes
// back up to folders whose handles it had to close.
TEST(RealTreeTest, TreesDeeperThanTheDescriptorLimitAreWalkedWhole) {
  constexpr int kDepth = 120;
  TempDir dir;
  std::string folder, deepest;
  for (int level = 0; level < kDepth; ++level) {
    dir.Write(folder + "f.txt", "old\n");
    dir.Write(folder + "leaf/g.txt", "old\n");
    deepest = folder;
    folder += "d/";
  }
  const RunResult r = RunRplcUnder({"prlimit", "--nofile=64", "--"},
                                   {"-s", "*.txt", "-f:old", "-t:new", "-trc"}, dir.path(),
                                   nullptr);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\n## total replaced " + std::to_string(2 * kDepth) + " matchs\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read(deepest + "leaf/g.txt"), "new\n");
  EXPECT_EQ(dir.Read("leaf/g.txt"), "new\n");
}

// Runs as an unprivileged user when the tests run as root, so that a
// folder without permissions cannot be opened.
std::vector<std::string> Unprivileged() {
  if (geteuid() != 0) return {};
  return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
}

TEST(RealTreeTest, FoldersThatCannotBeSearchedAreReportedAndFailTheRun) {
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  dir.Write("a.txt", "old\n");
  dir.Write("locked/x.txt", "old\n");
  chmod((dir.path() + "/a.txt").c_str(), 0666);
  chmod((dir.path() + "/locked").c_str(), 0);
  RunResult r = RunRplcUnder(Unprivileged(), {"-s", "*.txt", "-f:old", "-t:new"}, dir.path(),
                             nullptr);
  EXPECT_EQ(r.err.rfind("[ERROR] can't search folder: " + dir.path() + "/locked/\n"
                        "  CDir::GetAllSubDirs - error init first find\n", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(dir.Read("a.txt"), "new\n");
  // The only match behind it: the cause comes before the summary.
  r = RunRplcUnder(Unprivileged(), {"locked/*.txt", "-f:new", "-t:x"}, dir.path(), nullptr);
  EXPECT_EQ(r.err.rfind("[ERROR] can't search folder: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("[FATAL ERROR] can't find the file(s)!\n"), std::string::npos);
  EXPECT_EQ(r.status, 255);
  // With -errstop the run ends before any file is written.
  r = RunRplcUnder(Unprivileged(), {"-s", "*.txt", "-f:new", "-t:x", "-errstop"}, dir.path(),
                   nullptr);
  EXPECT_EQ(r.err.rfind("[FATAL ERROR] Velk runtime lib error: ", 0), 0u) << r.err;
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(dir.Read("a.txt"), "new\n");
}

TEST(RealTreeTest, ANameCannotInjectIntoThePreview) {
  const std::string evil = "x\n+++ victim.txt\n@@ -1 +1 @@\n-safe\n+PWNED";
  TempDir previewed, rewritten;
  for (const TempDir* dir : {&previewed, &rewritten})
    Fill(*dir, {{evil, "safe\n"}, {"victim.txt", "safe\n"}, {"x\ttab \"q\"\\", "safe\n"}});
  const std::vector<std::string> args = {"x*", "-f:safe", "-t:SAFE"};
  const RunResult preview = RunRplc(With(args, {"-diff"}), "", previewed.path());
  ASSERT_EQ(RunRplc(args, "", rewritten.path()).status, 0);
  EXPECT_EQ(preview.out.find("\n+++ victim.txt"), std::string::npos) << preview.out;
  TempDir patches;
  const std::string patch = patches.Write("p.diff", preview.out);
  ASSERT_EQ(Shell(previewed.path(), "patch -p0 -F0 --batch -i '" + patch + "'"), 0)
      << preview.out;
  EXPECT_EQ(Contents(previewed.path()), Contents(rewritten.path()));
  EXPECT_EQ(previewed.Read("victim.txt"), "safe\n");
}

}  // namespace
}  // namespace rplc_test
