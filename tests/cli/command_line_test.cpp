// End-to-end runs of rplc on command lines it must refuse or read in a
// particular way: unknown switches, "/" paths, incomplete command lines,
// empty patterns, the precedence of the find switches, and the exit status.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "run_binary.h"

namespace rplc_test {
namespace {

const std::string kRule(79, '=');
const std::string kHelpStart = "\n\n" + kRule + "\n";

std::string Join(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& each : args) text += (text.empty() ? "" : " ") + each;
  return text;
}

// A file's content, inode and modification time: what must not change when
// nothing may be written.
struct Snapshot {
  std::string content;
  ino_t inode = 0;
  struct timespec mtime {};
  bool operator==(const Snapshot& o) const {
    return content == o.content && inode == o.inode && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

Snapshot Take(const TempDir& dir, const std::string& name) {
  Snapshot s;
  s.content = dir.Read(name);
  struct stat info {};
  stat((dir.path() + "/" + name).c_str(), &info);
  s.inode = info.st_ino;
  s.mtime = info.st_mtim;
  return s;
}

// A folder with two files that every refused command line below would
// otherwise rewrite.
struct Victims {
  TempDir dir;
  Snapshot a, b;
  Victims() {
    dir.Write("a.md", "recieve abc data\n");
    dir.Write("sub/b.md", "recieve abc data\n");
    a = Take(dir, "a.md");
    b = Take(dir, "sub/b.md");
  }
  bool Untouched() const { return Take(dir, "a.md") == a && Take(dir, "sub/b.md") == b; }
};

TEST(CommandLineTest, UnknownSwitchesAreRefusedBeforeAnythingIsDone) {
  const std::vector<std::vector<std::string>> cases = {
      {"-s", "*.md", "-f:recieve", "-t:receive", "--dry-run"},
      {"*.md", "-f:recieve", "-t:receive", "-x"},
      {"*.md", "-F:recieve", "-T:receive", "-FRCX"},
      {"-nosuch:value", "-f:abc", "-t:x"},
      {"-f:abc", "-t:x", "-e"},          // a prefix of a known name
      {"-h", "-hh"},                     // even next to a help request
      {"-f:abc", "-t:x", "-stdio", "-frc=1", "/fo:x", "-dif"},
  };
  for (const auto& args : cases) {
    Victims v;
    const RunResult r = RunRplc(args, "abc recieve\n", v.dir.path());
    std::string expected;
    for (const std::string& each : args)
      if (each == "--dry-run" || each == "-x" || each == "-FRCX" || each == "-nosuch:value" ||
          each == "-e" || each == "-hh" || each == "-dif")
        expected += "[ERROR] unknown switch: " + each + "\n";
    EXPECT_EQ(r.err, expected) << Join(args);
    EXPECT_EQ(r.out, "") << Join(args);
    EXPECT_EQ(r.status, 255) << Join(args);
    EXPECT_EQ(r.stdin_read, 0) << Join(args);
    EXPECT_TRUE(v.Untouched()) << Join(args);
  }
}

TEST(CommandLineTest, EveryKnownSwitchIsAcceptedInAnyCaseAndPrefix) {
  // Each known switch next to a valid stdio run: no "unknown switch" line.
  for (const char* name : {"f:x", "fic:x", "r:x", "ric:x", "rnnl:x", "rnnlic:x", "t:y", "tu:y",
                           "tl:y", "exp", "noexp", "stdio", "frc", "trc", "errstop", "s"}) {
    for (const char* prefix : {"-", "/"}) {
      std::string upper = std::string(prefix) + name;
      for (char& c : upper) c = char(toupper(static_cast<unsigned char>(c)));
      const RunResult r = RunRplc({"-f:x", "-t:y", upper}, "x");
      EXPECT_EQ(r.err, "") << upper;
      EXPECT_EQ(r.status, 0) << upper;
    }
  }
}

TEST(CommandLineTest, SlashOpensASwitchOnlyBeforeAKnownName) {
  TempDir dir;
  dir.Write("index.html", "port 8080\n");
  const std::string path = dir.path() + "/index.html";
  // An absolute path is a file pattern, wherever it stands.
  RunResult r = RunRplc({"-f:8080", "-t:8081", path, "-frc"}, "8080 on stdin");
  EXPECT_EQ(r.out, "\n## 1 replacements in file: " + path + "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.stdin_read, 0);
  EXPECT_EQ(dir.Read("index.html"), "port 8081\n");
  // Known names, any case, either separator: switches.
  r = RunRplc({"/F=8081", "/T:8082", "/S", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("index.html"), "port 8082\n");
  // An unknown name after "/" is a path, here one that does not exist.
  r = RunRplc({"-f:a", "-t:b", "/nosuch-rplc-file:x=y"}, "", dir.path());
  EXPECT_EQ(r.err, "[ERROR] no such file: /nosuch-rplc-file:x=y\n");
  EXPECT_EQ(r.status, 255);
  // A folder named like a switch is reached as a path: with "./" or after "--".
  dir.Write("s/in.txt", "a");
  r = RunRplc({"-f:a", "-t:b", "--", "s"}, "", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("s/in.txt"), "b");
  r = RunRplc({"-f:b", "-t:c", dir.path() + "/s"}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("s/in.txt"), "c");
}

TEST(CommandLineTest, AskedForHelpGoesToStandardOutput) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"-h"}, {"-?"}, {"/H"}, {"/?"}, {"-h", "-f:a", "-t:b"}, {"-f:a", "-?", "*.txt"},
  };
  const std::string screen = RunRplc({"-h"}).out;
  ASSERT_EQ(screen.compare(0, kHelpStart.size(), kHelpStart), 0);
  for (const auto& args : cases) {
    const RunResult r = RunRplc(args, "a");
    EXPECT_EQ(r.out, screen) << Join(args);
    EXPECT_EQ(r.err, "") << Join(args);
    EXPECT_EQ(r.status, 0) << Join(args);
    EXPECT_EQ(r.stdin_read, 0) << Join(args);
  }
}

TEST(CommandLineTest, AnIncompleteCommandLineFailsWithItsReasonAndTheHelp) {
  struct Case {
    std::vector<std::string> args;
    std::string reason;
  };
  const std::string no_find =
      "no find switch: give the text to find with -f:, -fic:, -r:, -ric:, -rnnl: or -rnnlic:";
  const std::string no_replacement =
      "no replacement switch: give the replacement with -t:, -tu: or -tl: (a bare -t deletes "
      "every match)";
  const std::string empty_case =
      "empty replacement: -tu and -tl need a text (a bare -t deletes every match)";
  const std::string empty_find =
      "empty find text: give the text to find after the switch, as in -f:text";
  const Case cases[] = {
      {{"-f:data"}, no_replacement},
      {{"-r:data", "-stdio"}, no_replacement},
      {{"-t:x"}, no_find},
      {{"-s"}, no_find},
      {{"--"}, no_find},
      {{"-f:abc", "-tu"}, empty_case},
      {{"-f:abc", "-tl:"}, empty_case},
      {{"-f:", "-t:x"}, empty_find},
      {{"-rnnlic=", "-t"}, empty_find},
      {{"-f:", "-tu"}, empty_case},  // the replacement is tested first
  };
  const std::string screen = RunRplc({"-h"}).out;
  for (const Case& c : cases) {
    const RunResult r = RunRplc(c.args, "data\n");
    EXPECT_EQ(r.err, "[ERROR] " + c.reason + "\n" + screen) << Join(c.args);
    EXPECT_EQ(r.out, "") << Join(c.args);
    EXPECT_EQ(r.status, 255) << Join(c.args);
    EXPECT_EQ(r.stdin_read, 0) << Join(c.args);
  }
  // A bare -t is a replacement: it deletes every match.
  const RunResult r = RunRplc({"-f:data", "-t"}, "data\n");
  EXPECT_EQ(r.out, "\n");
  EXPECT_EQ(r.status, 0);
}

TEST(CommandLineTest, AnEmptyFilePatternIsRefused) {
  const std::vector<std::vector<std::string>> cases = {
      {"", "-f:abc", "-t:x"},
      {"-f:abc", "-t:x", "a.md", ""},
      {"-s", "-f:abc", "-t:x", "--", ""},
      {"", "-stdio", "-f:abc", "-t:x"},
  };
  for (const auto& args : cases) {
    Victims v;
    const RunResult r = RunRplc(args, "abc\n", v.dir.path());
    EXPECT_EQ(r.err, "[ERROR] empty file pattern\n") << Join(args);
    EXPECT_EQ(r.out, "") << Join(args);
    EXPECT_EQ(r.status, 255) << Join(args);
    EXPECT_EQ(r.stdin_read, 0) << Join(args);
    EXPECT_TRUE(v.Untouched()) << Join(args);
  }
}

// The first present find switch in the order -f, -fic, -r, -ric, -rnnl,
// -rnnlic wins whatever the argument order: each adjacent pair is run in
// both orders, with find texts that tell the methods apart.
TEST(CommandLineTest, FindSwitchPrecedenceInBothOrders) {
  struct Pair {
    std::string first, second;  // first outranks second
    std::string output;         // of "aAbB" with -t:X under first
  };
  const Pair pairs[] = {
      {"-f:a", "-fic:b", "XAbB"},        {"-fic:a", "-r:b", "XXbB"},
      {"-r:a", "-ric:b", "XAbB"},        {"-ric:a", "-rnnl:b", "XXbB"},
      {"-rnnl:a", "-rnnlic:b", "XAbB"},
  };
  for (const Pair& p : pairs) {
    for (bool swapped : {false, true}) {
      const std::vector<std::string> args =
          swapped ? std::vector<std::string>{p.second, p.first, "-t:X"}
                  : std::vector<std::string>{p.first, p.second, "-t:X"};
      const RunResult r = RunRplc(args, "aAbB");
      EXPECT_EQ(r.out, p.output) << Join(args);
      EXPECT_EQ(r.status, 0) << Join(args);
    }
  }
}

TEST(CommandLineTest, ALostHelpScreenIsAFailure) {
  const RunResult r = RunRplc({"-h"}, "", "", "/dev/full");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err.rfind("[FATAL ERROR] ", 0), 0u) << r.err;
}

// 2 GiB less 16 bytes is the most any input may hold. Sparse files make
// the sizes cheap: both are refused from their size before any reading.
TEST(CommandLineTest, InputsBeyondTheSizeLimitAreRefused) {
  const off_t too_large = off_t(0x7FFFFFF0) + 1;
  TempDir dir;
  const std::string big = dir.Write("big.txt", "");
  ASSERT_EQ(truncate(big.c_str(), too_large), 0);
  dir.Write("small.txt", "a");

  RunResult r = RunRplcOnStdin({"-f:a", "-t:b"}, big);
  EXPECT_EQ(r.err, "[FATAL ERROR] standard input is too large: more than 2147483632 bytes\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 255);

  r = RunRplc({"big.txt", "small.txt", "-f:a", "-t:b", "-trc"}, "", dir.path());
  EXPECT_EQ(r.err, "[ERROR] failed reading file: " + dir.path() + "/big.txt\n"
                   "  CDir::ReadFile - error reading file : file too large\n"
                   "  file name  = " + dir.path() + "/big.txt\n"
                   "  file size  = 2147483633\n"
                   "  sys error  = 27\n"
                   "  error desc = File too large\n");
  EXPECT_EQ(r.out, "\n## total replaced 1 matchs\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(dir.Read("small.txt"), "b");
  struct stat info {};
  stat(big.c_str(), &info);
  EXPECT_EQ(info.st_size, too_large);
}

}  // namespace
}  // namespace rplc_test
