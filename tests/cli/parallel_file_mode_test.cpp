// File mode on several processors: a run must be indistinguishable from a
// run on one processor (standard output, standard error, exit status and
// the files left behind), whatever order the workers finish in.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "run_binary.h"

namespace rplc_test {
namespace {

namespace fs = std::filesystem;

// Runs rplc with the child pinned to one processor when one_cpu is set (the
// child inherits the affinity of the thread that starts it).
RunResult RunPinned(bool one_cpu, const std::vector<std::string>& args, const std::string& cwd,
                    long file_size_limit) {
  cpu_set_t old_set;
  CPU_ZERO(&old_set);
  sched_getaffinity(0, sizeof old_set, &old_set);
  if (one_cpu) {
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
      if (CPU_ISSET(cpu, &old_set)) {
        CPU_SET(cpu, &one);
        break;
      }
    sched_setaffinity(0, sizeof one, &one);
  }
  RunResult r = RunRplc(args, "", cwd, "", file_size_limit);
  sched_setaffinity(0, sizeof old_set, &old_set);
  return r;
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().string().substr(root.size());
    if (entry.is_symlink()) {
      files[relative] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      FILE* in = fopen(entry.path().c_str(), "rb");
      std::string text;
      char block[4096];
      for (size_t n; in && (n = fread(block, 1, sizeof block, in)) > 0;) text.append(block, n);
      if (in) fclose(in);
      files[relative] = text;
    }
  }
  return files;
}

// A tree with every kind of file the run meets: matching and not, empty,
// too large to write back under the size limit, unreadable (dangling
// links), in sub-folders, and one named twice by the patterns.
void BuildTree(const std::string& root) {
  fs::remove_all(root);
  fs::create_directories(root + "/sub/deeper");
  auto write = [&](const std::string& name, const std::string& text) {
    FILE* out = fopen((root + "/" + name).c_str(), "wb");
    fwrite(text.data(), 1, text.size(), out);
    fclose(out);
  };
  for (int i = 0; i < 120; ++i) {
    const std::string n = std::to_string(i);
    const std::string folder = i % 3 == 0 ? "" : i % 3 == 1 ? "sub/" : "sub/deeper/";
    std::string text;
    switch (i % 7) {
      case 0: text = ""; break;
      case 1: text = "nothing to see " + n + "\n"; break;
      case 2: text = std::string(9000, 'a') + "old" + n; break;  // too large to write
      default: text = "old " + n + " and old again\nold\n"; break;
    }
    write(folder + "f" + n + ".txt", text);
  }
  symlink("missing", (root + "/dangling1.txt").c_str());
  symlink("missing", (root + "/sub/dangling2.txt").c_str());
  write("a-twice.txt", "old old");
}

struct Observed {
  RunResult result;
  std::map<std::string, std::string> files;
};

Observed RunOnTree(const std::string& root, bool one_cpu, const std::vector<std::string>& args) {
  BuildTree(root);
  Observed o;
  o.result = RunPinned(one_cpu, args, root, 8192);
  o.files = Snapshot(root);
  return o;
}

TEST(ParallelFileModeTest, EveryRunEqualsTheOneProcessorRun) {
  if (sysconf(_SC_NPROCESSORS_ONLN) < 2) GTEST_SKIP() << "one processor";
  TempDir dir;
  const std::string root = dir.path() + "/tree";
  const std::vector<std::vector<std::string>> commands = {
      {"*.txt", "a-*.txt", "-s", "-f:old", "-t:new", "-frc", "-trc"},
      {"*.txt", "a-*.txt", "-s", "-r:o(l)d", "-t:\\1e\\1", "-frc", "-trc"},
      {"*.txt", "a-*.txt", "-s", "-fic:OLD", "-t:new", "-frc", "-trc", "-noexp"},
      {"*.txt", "a-*.txt", "-s", "-f:old", "-t:new", "-stdout", "-trc"},
      {"*.txt", "a-*.txt", "-s", "-f:old", "-t:new", "-frc", "-trc", "-errstop"},
      {"sub/*.txt", "*.txt", "-f:old", "-t:new", "-frc", "-errstop"},
      {"sub/f4.txt", "sub/f4.txt", "sub/f4.txt", "-f:old", "-t:oldx", "-frc", "-trc"},
  };
  for (const auto& args : commands) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    SCOPED_TRACE(shown);
    const Observed reference = RunOnTree(root, true, args);
    EXPECT_NE(reference.result.out + reference.result.err, "");
    for (int round = 0; round < 4; ++round) {
      const Observed parallel = RunOnTree(root, false, args);
      EXPECT_EQ(parallel.result.out, reference.result.out);
      EXPECT_EQ(parallel.result.err, reference.result.err);
      EXPECT_EQ(parallel.result.status, reference.result.status);
      EXPECT_TRUE(parallel.files == reference.files);
    }
  }
}

// The first failure in list order ends an "-errstop" run, and no file after
// it is changed, even when a worker had already replaced it.
TEST(ParallelFileModeTest, ErrstopChangesNothingAfterTheFirstFailure) {
  TempDir dir;
  std::vector<std::string> args;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "f" + std::to_string(100 + i) + ".txt";
    dir.Write(name, i == 20 ? std::string(9000, 'x') : "x");
    args.push_back(name);
  }
  args.insert(args.end(), {"-f:x", "-t:y", "-frc", "-errstop"});
  const RunResult r = RunRplc(args, "", dir.path(), "", 8192);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err.rfind("[ERROR] can't write to file: " + dir.path() + "/f120.txt\n  ", 0), 0u)
      << r.err;
  std::string expected;
  for (int i = 0; i < 20; ++i) {
    const std::string name = "f" + std::to_string(100 + i) + ".txt";
    expected += "\n## 1 replacements in file: " + dir.path() + "/" + name + "\n";
    EXPECT_EQ(dir.Read(name), "y") << name;
  }
  EXPECT_EQ(r.out, expected);
  for (int i = 21; i < 40; ++i)
    EXPECT_EQ(dir.Read("f" + std::to_string(100 + i) + ".txt"), "x") << i;
}

// An interrupt while several workers each have a temporary file removes all
// of them and ends the process by the signal.
TEST(ParallelFileModeTest, InterruptRemovesEveryLiveTemporaryFile) {
  if (sysconf(_SC_NPROCESSORS_ONLN) < 2) GTEST_SKIP() << "one processor";
  int hits = 0;
  for (int attempt = 0; attempt < 6 && hits == 0; ++attempt) {
    TempDir dir;
    const std::string original(24u << 20, 'x');
    const std::vector<std::string> names = {"a.txt", "b.txt", "c.txt", "d.txt"};
    for (const std::string& name : names) dir.Write(name, original);
    bool two_live = false;
    const RunResult r = RunRplcWith({"*.txt", "-f=x", "-t=yy"}, dir.path(), [&](int pid) {
      for (int wait = 0; wait < 20000 && !two_live; ++wait) {
        int temps = 0;
        for (const auto& entry : fs::directory_iterator(dir.path()))
          temps += entry.path().filename().string()[0] == '.';
        two_live = temps >= 2;
        if (!two_live) ::usleep(100);
      }
      ::kill(pid, SIGINT);
    });
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path()))
      left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, names);
    for (const std::string& name : names) {
      const std::string text = dir.Read(name);
      EXPECT_TRUE(text == original || text == std::string(original.size() * 2, 'y')) << name;
    }
    if (two_live) {
      EXPECT_EQ(r.status, 128 + SIGINT);
      ++hits;
    }
  }
  if (hits == 0) GTEST_SKIP() << "never caught two temporary files at once";
}

}  // namespace
}  // namespace rplc_test
