// File mode on several processors: a run must be indistinguishable from a
// run on one processor (standard output, standard error, exit status and
// the files left behind), whatever order the workers finish in.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "run_binary.h"
#include "tests/support/fs/temp_tree.h"

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
// it is changed, even when a worker had already replaced it; with small
// files and with files larger than a chunk, which are streamed. The failure
// is a file-size limit that only the 21st file's new contents exceed.
TEST(ParallelFileModeTest, ErrstopChangesNothingAfterTheFirstFailure) {
  const struct {
    std::size_t size;        // of each file
    std::size_t too_large;   // of the 21st
    long limit;              // the file-size limit
  } rows[] = {{1, 9000, 8192}, {300 * 1024, 600 * 1024, 512 * 1024}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size);
    TempDir dir;
    std::vector<std::string> args;
    for (int i = 0; i < 40; ++i) {
      const std::string name = "f" + std::to_string(100 + i) + ".txt";
      dir.Write(name, std::string(i == 20 ? row.too_large : row.size, 'x'));
      args.push_back(name);
    }
    args.insert(args.end(), {"-f:x", "-t:y", "-frc", "-errstop"});
    const RunResult r = RunRplc(args, "", dir.path(), "", row.limit);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err.rfind("[ERROR] can't write to file: " + dir.path() + "/f120.txt\n  ", 0), 0u)
        << r.err;
    std::string expected;
    for (int i = 0; i < 20; ++i) {
      const std::string name = "f" + std::to_string(100 + i) + ".txt";
      expected += "\n## " + std::to_string(row.size) + " replacements in file: " + dir.path() +
                  "/" + name + "\n";
      EXPECT_TRUE(dir.Read(name) == std::string(row.size, 'y')) << name;
    }
    EXPECT_EQ(r.out, expected);
    EXPECT_TRUE(dir.Read("f120.txt") == std::string(row.too_large, 'x'));
    for (int i = 21; i < 40; ++i)
      EXPECT_TRUE(dir.Read("f" + std::to_string(100 + i) + ".txt") == std::string(row.size, 'x'))
          << i;
    EXPECT_EQ(Listing(dir.path()).size(), 40u);
  }
}

// The temporary files of a write-back in folder dir while process pid
// runs: named ones (".NAME.rplc-...") and unnamed ones, which the process
// holds open as removed files, so that file systems with and without
// unnamed files are watched alike.
int TemporaryFiles(int pid, const std::string& dir) {
  int count = Velk::test::UnnamedFilesHeld(pid, dir);
  for (const std::string& name : Listing(dir)) count += name[0] == '.';
  return count;
}

// A second interrupt while several workers each have a temporary file
// removes all of them and ends the process at once; every file is whole.
TEST(ParallelFileModeTest, SecondInterruptRemovesEveryLiveTemporaryFile) {
  if (sysconf(_SC_NPROCESSORS_ONLN) < 2) GTEST_SKIP() << "one processor";
  int hits = 0;
  for (int attempt = 0; attempt < 8 && hits == 0; ++attempt) {
    TempDir dir;
    const std::string original(24u << 20, 'x');
    const std::vector<std::string> names = {"a.txt", "b.txt", "c.txt", "d.txt"};
    for (const std::string& name : names) dir.Write(name, original);
    bool two_live = false;
    const RunResult r = RunRplcWith({"*.txt", "-f=x", "-t=yy"}, dir.path(), [&](int pid) {
      for (int wait = 0; wait < 200000 && !two_live; ++wait) {
        two_live = TemporaryFiles(pid, dir.path()) >= 2;
        if (!two_live) ::usleep(50);
      }
      // SIGINT first: the run winds down; SIGTERM then ends it at once.
      ::kill(pid, SIGINT);
      ::kill(pid, SIGTERM);
    });
    std::vector<std::string> left = Listing(dir.path());
    EXPECT_EQ(left, names);
    for (const std::string& name : names) {
      const std::string text = dir.Read(name);
      EXPECT_TRUE(text == original || text == std::string(original.size() * 2, 'y')) << name;
    }
    if (two_live && r.status != 0) {
      EXPECT_TRUE(r.status == 128 + SIGINT || r.status == 128 + SIGTERM) << r.status;
      ++hits;
    }
  }
  EXPECT_GT(hits, 0) << "never caught two temporary files at once in 8 runs";
}

// An interrupt during a run over thousands of small files, or over files
// larger than a chunk, which are streamed: the files being written finish,
// the count lines name exactly the files that changed, the message counts
// the others, no temporary file is left, and the process ends by the signal.
TEST(ParallelFileModeTest, InterruptReportsExactlyTheFilesWritten) {
  const struct {
    int files;
    int lines;  // "old line" lines per file
  } rows[] = {{3000, 100}, {40, 80000}};
  for (const auto& row : rows) {
    const int kFiles = row.files;
    const std::string old_text = [&] {
      std::string t;
      for (int i = 0; i < row.lines; ++i) t += "old line\n";
      return t;
    }();
    std::string new_text = old_text;
    for (std::size_t at = new_text.find("old"); at != std::string::npos;
         at = new_text.find("old", at))
      new_text.replace(at, 3, "new");
    int interrupted = 0;
    for (int attempt = 0; attempt < 5 && interrupted == 0; ++attempt) {
      TempDir dir;
      std::vector<std::string> names;
      for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%04d.txt", i);
        names.push_back(name);
        dir.Write(name, old_text);
      }
      const RunResult r = RunRplcWith({"*.txt", "-f:old", "-t:new", "-frc", "-trc"}, dir.path(),
                                      [&](int pid) {
        // As soon as any file was rewritten (or the run ended).
        const int step = kFiles > 97 ? 97 : 1;
        for (int wait = 0; wait < 400000; ++wait) {
          bool changed = false;
          for (int i = 0; i < kFiles && !changed; i += step)
            changed = dir.Read(names[i])[0] == 'n';
          if (changed || ::kill(pid, 0) != 0) break;
          ::usleep(20);
        }
        ::kill(pid, SIGINT);
      });
      std::vector<std::string> changed;
      for (const std::string& name : names) {
        const std::string text = dir.Read(name);
        EXPECT_TRUE(text == old_text || text == new_text) << name;
        if (text == new_text) changed.push_back(dir.path() + "/" + name);
      }
      EXPECT_EQ(Listing(dir.path()), names);
      std::vector<std::string> reported;
      const std::string head = "\n## " + std::to_string(row.lines) + " replacements in file: ";
      std::size_t at = 0;
      for (std::size_t next; (next = r.out.find(head, at)) == at;) {
        const std::size_t end = r.out.find('\n', next + head.size());
        ASSERT_NE(end, std::string::npos);
        reported.push_back(r.out.substr(next + head.size(), end - next - head.size()));
        at = end + 1;
      }
      const std::string total =
          changed.empty() ? "" : "\n## total replaced " +
                                     std::to_string(std::uint64_t(row.lines) * changed.size()) +
                                     " matchs\n";
      EXPECT_EQ(r.out.substr(at), total);
      std::sort(reported.begin(), reported.end());
      EXPECT_EQ(reported, changed);
      if (r.status == 0) {
        EXPECT_EQ(changed.size(), std::size_t(kFiles));
        EXPECT_EQ(r.err, "");
        continue;
      }
      EXPECT_EQ(r.status, 128 + SIGINT);
      EXPECT_EQ(r.err, "[ERROR] interrupted: " + std::to_string(kFiles - changed.size()) +
                           " files not processed\n");
      if (changed.size() < std::size_t(kFiles)) ++interrupted;
    }
    EXPECT_GT(interrupted, 0) << "every run ended before the interrupt, " << row.files
                              << " files";
  }
}

// A closed standard output ends the run with an error, never in the middle
// of a rewrite: files with several links are rewritten in place, and each is
// old or new, whole, with no temporary file left.
TEST(ParallelFileModeTest, ClosedOutputNeverTearsARewrite) {
  // More count lines than a pipe holds, so that a write finds it closed.
  const std::string old_text(2000, 'o'), new_text(2000, 'n');
  const std::string padding(80, 'p');
  for (int round = 0; round < 3; ++round) {
    TempDir dir;
    std::vector<std::string> expected;
    for (int i = 0; i < 1000; ++i) {
      const std::string name = "f" + std::to_string(1000 + i) + padding + ".txt";
      dir.Write(name, old_text);
      ASSERT_EQ(::link((dir.path() + "/" + name).c_str(),
                       (dir.path() + "/" + name + ".link").c_str()), 0);
      expected.push_back(name);
      expected.push_back(name + ".link");
    }
    std::sort(expected.begin(), expected.end());
    const RunResult r = RunRplcUnder(
        {"bash", "-c", "set -o pipefail; \"$@\" | head -c 30 >/dev/null", "bash"},
        {"*.txt", "-f:o", "-t:n", "-frc"}, dir.path(), nullptr);
    EXPECT_TRUE(r.status == 0 || r.status == 255) << r.status << " " << r.err;
    if (r.status == 255) {
      EXPECT_NE(r.err.find("[FATAL ERROR] "), std::string::npos) << r.err;
    }
    EXPECT_EQ(Listing(dir.path()), expected);
    for (const std::string& name : expected) {
      const std::string text = dir.Read(name);
      EXPECT_TRUE(text == old_text || text == new_text) << name;
    }
  }
}

// Two runs over the same files at once never lose each other's change:
// a file to be rewritten is read again under its lock, which the other run
// holds from its own locked read to its write, so the second run works
// from the first one's result; and a run's listing of a folder holds the
// other's renames in it back, since a name renamed over while a folder is
// read can be missing from the listing (tmpfs does that). Files with a
// second link are rewritten in place; same-length changes leave their size
// as it was, so only the contents tell the rewrite.
TEST(ParallelFileModeTest, TwoRunsAtOnceKeepBothChanges) {
  struct CASE {
    const char* text;
    const char* first_find;
    const char* first_to;
    const char* second_find;
    const char* second_to;
    int link_every;  // every n-th file gets a second link
    const char* mode;
    const char* expected;
    int files = 3000;
    int repeat = 1;  // the text this many times: larger than a chunk, it is streamed
  };
  const CASE cases[] = {
      {"one two\n", "-f:one", "-t:1", "-f:two", "-t:2", 3, "-exp", "1 2\n"},
      {"aaaa bbbb\n", "-f:aaaa", "-t:xxxx", "-f:bbbb", "-t:yyyy", 1, "-exp", "xxxx yyyy\n"},
      {"aaaa bbbb\n", "-f:aaaa", "-t:xxxx", "-f:bbbb", "-t:yyyy", 2, "-noexp", "xxxx yyyy\n"},
      {"one two\n", "-f:one", "-t:1", "-f:two", "-t:2", 2, "-exp", "1 2\n", 24, 40000},
  };
  std::vector<std::string> bases{std::filesystem::temp_directory_path().string()};
  if (::access("/dev/shm", W_OK) == 0) bases.push_back("/dev/shm");
  for (const std::string& base : bases) {
    for (const CASE& c : cases) {
      SCOPED_TRACE(base + " " + c.text + c.mode);
      TempDir dir(base);
      std::string text, expected;
      for (int i = 0; i < c.repeat; ++i) {
        text += c.text;
        expected += c.expected;
      }
      std::vector<std::string> names;
      for (int i = 0; i < c.files; ++i) {
        const std::string name = "f" + std::to_string(10000 + i) + ".txt";
        dir.Write(name, text);
        if (i % c.link_every == 0) {
          ASSERT_EQ(::link((dir.path() + "/" + name).c_str(),
                           (dir.path() + "/" + name + ".link").c_str()), 0);
        }
        names.push_back(name);
      }
      RunResult second;
      const RunResult first = RunRplcWith({"*.txt", c.first_find, c.first_to, c.mode}, dir.path(),
                                          [&](int) {
        second = RunRplc({"*.txt", c.second_find, c.second_to, c.mode}, "", dir.path());
      });
      EXPECT_EQ(first.status, 0) << first.err.substr(0, 500);
      EXPECT_EQ(second.status, 0) << second.err.substr(0, 500);
      EXPECT_EQ(first.err + second.err, "");
      int lost = 0;
      for (const std::string& name : names) lost += dir.Read(name) != expected;
      EXPECT_EQ(lost, 0);
    }
  }
}

// A folder that another process keeps locked is still listed and its
// files rewritten: the run waits for the lock a bounded time, then goes on
// without it.
TEST(ParallelFileModeTest, AFolderLockedByAnotherProcessIsWorkedAnyway) {
  TempDir dir;
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) dir.Write(name, "old\n");
  const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  ASSERT_EQ(::flock(folder, LOCK_EX), 0);
  const RunResult r = RunRplc({"*.txt", "-f:old", "-t:new", "-frc"}, "", dir.path());
  ::close(folder);
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) EXPECT_EQ(dir.Read(name), "new\n") << name;
}

}  // namespace
}  // namespace rplc_test
