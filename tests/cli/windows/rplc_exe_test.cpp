// End-to-end runs of the cross-built rplc.exe under wine: standard streams
// in text mode, regular expressions, the help screen with its Windows
// examples, file mode with backslash and drive-letter paths, recursion,
// Windows error texts and the exit statuses; the write-back against hard
// links, symbolic links, a concurrent change and Ctrl+C.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run_binary.h"

namespace rplc_test {
namespace {

// wine shows the host's root as drive Z:.
std::string WindowsPath(const std::string& host_path) {
  std::string path = "Z:" + host_path;
  for (char& each : path)
    if (each == '/') each = '\\';
  return path;
}

std::string WithoutCarriageReturns(std::string text) {
  std::string::size_type at;
  while ((at = text.find("\r\n")) != std::string::npos) text.erase(at, 1);
  return text;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(RplcExe, StandardStreamsAreInTextModeOnWindows) {
  // A CR LF pair arrives as a line feed; every line feed leaves as CR LF.
  RunResult r = RunRplc({"-f:teh", "-t:the"}, "teh cat\r\nsat on teh mat\n");
  EXPECT_EQ(r.out, "the cat\r\nsat on the mat\r\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  // So "\r" is never seen by a pattern.
  r = RunRplc({"-r:a\\r?$", "-t:b"}, "xa\r\n");
  EXPECT_EQ(r.out, "xb\r\n");
}

TEST(RplcExe, RegularExpressionFindsOnWindows) {
  struct Case {
    std::vector<std::string> args;
    std::string input, output;
  };
  const std::vector<Case> cases = {
      {{"-r:\\d+", "-t:<\\0>"}, "a1 b22", "a<1> b<22>"},
      {{"/r:(\\w+)@(\\w+)", "/t:\\2 at \\1"}, "joe@host", "host at joe"},
      {{"-ric:HELLO", "-tu:bye"}, "Hello hello", "BYE BYE"},
      {{"-r:^(Smith|James).*\\n", "-t"}, "Smith x\nBob\nJames y\n", "Bob\r\n"},
      {{"-rnnl:a.b", "-t:X"}, "a\nb", "X"},
      {{"-r:***:(?i)abc", "-t:-"}, "ABC", "-"},
      {{"-fic:my dir", "-tl:X"}, "MY DIR", "x"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunRplc(c.args, c.input);
    EXPECT_EQ(r.out, c.output) << c.args[0];
    EXPECT_EQ(r.status, 0) << c.args[0];
  }
}

TEST(RplcExe, HelpScreenHasTheWindowsExamplesOnWindows) {
  const std::string expected = Slurp(std::string(RPLC_TEST_DATA) + "/help_screen.txt");
  ASSERT_FALSE(expected.empty());
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-h"}, {"/?"}, {"/H"}, {}}) {
    const RunResult r = RunRplc(args);
    // Text mode: every line ends in CR LF, byte for byte otherwise.
    EXPECT_EQ(WithoutCarriageReturns(r.out), expected);
    EXPECT_EQ(r.out.size(), expected.size() + 126u);
    EXPECT_EQ(r.status, 0);
  }
  const std::string help = RunRplc({"-h"}).out;
  EXPECT_NE(help.find("  type server.log | rplc /r:\"Connected.*218.79\" /t:\"**Attack** \\0\"\r\n"),
            std::string::npos);
  EXPECT_NE(help.find("  rplc *.txt -fic:\"My Dir\" -tu:\"%ROOTDIR%\"\r\n"), std::string::npos);
}

TEST(RplcExe, FileModeWithBackslashAndDriveLetterPathsOnWindows) {
  TempDir dir;
  dir.Write("a.txt", "old\r\nold");
  dir.Write("sub/B.TXT", "old");
  dir.Write("sub/c.log", "old");
  const std::string root = WindowsPath(dir.path());

  // Backslash pattern, case-insensitive wildcard, raw bytes in the file.
  RunResult r = RunRplc({"sub\\*.txt", "-f:old", "-t:new", "-frc"}, "", dir.path());
  EXPECT_EQ(WithoutCarriageReturns(r.out),
            "\n## 1 replacements in file: " + root + "\\sub\\B.TXT\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("sub/B.TXT"), "new");
  EXPECT_EQ(dir.Read("sub/c.log"), "old");

  // A forward slash separates as well; a drive-letter path is absolute.
  r = RunRplc({root + "\\sub/*.LOG", "-f:old", "-t:new", "-frc"}, "", "/");
  EXPECT_EQ(WithoutCarriageReturns(r.out),
            "\n## 1 replacements in file: " + root + "\\sub\\c.log\n");
  r = RunRplc({"*.TxT", "-f:old", "-t:new", "-trc"}, "", dir.path());
  EXPECT_EQ(WithoutCarriageReturns(r.out), "\n## total replaced 2 matchs\n");
  EXPECT_EQ(dir.Read("a.txt"), "new\r\nnew");
}

TEST(RplcExe, RecursionListsFoldersDepthFirstOnWindows) {
  TempDir dir;
  dir.Write("x.txt", "a");
  dir.Write("d1/x.txt", "a");
  dir.Write("d1/deeper/x.txt", "a");
  const RunResult r = RunRplc({"x.txt", "-s", "-f:a", "-t:b", "-frc", "-trc"}, "", dir.path());
  const std::string root = WindowsPath(dir.path());
  EXPECT_EQ(WithoutCarriageReturns(r.out),
            "\n## 1 replacements in file: " + root + "\\x.txt\n"
            "\n## 1 replacements in file: " + root + "\\d1\\x.txt\n"
            "\n## 1 replacements in file: " + root + "\\d1\\deeper\\x.txt\n"
            "\n## total replaced 3 matchs\n");
  EXPECT_EQ(dir.Read("d1/deeper/x.txt"), "b");
}

TEST(RplcExe, ErrorsCarryWindowsNumbersAndTextsOnWindows) {
  TempDir dir;
  dir.Write("ro.txt", "abc");
  dir.Write("ok.txt", "abc");
  ASSERT_EQ(chmod((dir.path() + "/ro.txt").c_str(), 0444), 0);  // read-only attribute

  RunResult r = RunRplc({"*.txt", "-f:abc", "-t:x"}, "", dir.path());
  EXPECT_NE(r.err.find("[ERROR] "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(WindowsPath(dir.path()) + "\\ro.txt"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" = 5\r\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Access denied."), std::string::npos) << r.err;
  EXPECT_EQ(dir.Read("ro.txt"), "abc");
  EXPECT_EQ(dir.Read("ok.txt"), "x");

  r = RunRplc({"nosuch\\*.txt", "-f:a", "-t:b"}, "", dir.path());
  EXPECT_EQ(WithoutCarriageReturns(r.err),
            "[FATAL ERROR] Velk runtime lib error: CDir::Open - error open dir : not exist\n"
            "  dir to open         = " + WindowsPath(dir.path()) + "\\nosuch\\\n"
            "  current working dir = " + WindowsPath(dir.path()) + "\\\n\n");
  EXPECT_EQ(r.status, 255);
}

TEST(RplcExe, ExitStatusesOnWindows) {
  TempDir dir;
  dir.Write("a.txt", "abc");
  EXPECT_EQ(RunRplc({"*.none", "-f:a", "-t:b"}, "", dir.path()).status, 255);
  EXPECT_EQ(RunRplc({"*.txt", "-f:zzz", "-t:b"}, "", dir.path()).status, 0);
  EXPECT_EQ(RunRplc({"-h"}).status, 0);
  EXPECT_EQ(RunRplc({"-f:a", "-t:b"}, "").status, 0);
}

// wine turns SIGINT into the console's Ctrl+C event. Several files are
// worked at once, one per worker; a temporary file exists only for a
// moment, so there are a few attempts. Every attempt, hit or not, must
// leave each file whole (old or new) and no other file.
TEST(RplcExe, CtrlCDuringRewritesLeavesNoTemporaryFileOnWindows) {
  const std::vector<std::string> names = {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "f.txt"};
  const std::string original(12u << 20, 'x');
  const std::string replaced(original.size() * 2, 'y');
  int hits = 0;
  for (int attempt = 0; attempt < 5 && hits == 0; ++attempt) {
    TempDir dir;
    for (const std::string& name : names) dir.Write(name, original);
    RunRplcWith({"*.txt", "-f=x", "-t=yy"}, dir.path(), [&](int pid) {
      for (int wait = 0; wait < 50000; ++wait) {
        if (Listing(dir.path()).size() > names.size()) {
          ++hits;
          break;
        }
        ::usleep(200);
      }
      ::kill(pid, SIGINT);
    });
    EXPECT_EQ(Listing(dir.path()), names);
    for (const std::string& name : names) {
      const std::string text = dir.Read(name);
      EXPECT_TRUE(text == original || text == replaced) << name << " size " << text.size();
    }
  }
  if (hits == 0) GTEST_SKIP() << "the rewrites never lasted long enough to be interrupted";
}

struct stat Lstat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

TEST(RplcExe, HardLinkedFileIsRewrittenInPlaceOnWindows) {
  TempDir dir;
  dir.Write("a.txt", "old old");
  ASSERT_EQ(link((dir.path() + "/a.txt").c_str(), (dir.path() + "/b.txt").c_str()), 0);
  const ino_t inode = Lstat(dir.path() + "/a.txt").st_ino;
  const RunResult r = RunRplc({"a.txt", "-f:old", "-t:new"}, "", dir.path());
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("a.txt"), "new new");
  EXPECT_EQ(dir.Read("b.txt"), "new new");
  EXPECT_EQ(Lstat(dir.path() + "/a.txt").st_ino, inode);
  EXPECT_EQ(Lstat(dir.path() + "/b.txt").st_nlink, 2u);
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// A symbolic link named exactly stays a link; its target, in the same
// folder or another one, gets the new contents, and no temporary file is
// left in either folder.
TEST(RplcExe, SymbolicLinkNamedExactlyStaysALinkOnWindows) {
  TempDir dir;
  dir.Write("target.txt", "old");
  dir.Write("sub/far.txt", "old");
  ASSERT_EQ(symlink("target.txt", (dir.path() + "/near.lnk").c_str()), 0);
  ASSERT_EQ(symlink("sub/far.txt", (dir.path() + "/far.lnk").c_str()), 0);
  const RunResult r =
      RunRplc({"near.lnk", "far.lnk", "-f:old", "-t:new", "-trc"}, "", dir.path());
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(WithoutCarriageReturns(r.out), "\n## total replaced 2 matchs\n");
  EXPECT_TRUE(S_ISLNK(Lstat(dir.path() + "/near.lnk").st_mode));
  EXPECT_TRUE(S_ISLNK(Lstat(dir.path() + "/far.lnk").st_mode));
  EXPECT_EQ(dir.Read("target.txt"), "new");
  EXPECT_EQ(dir.Read("sub/far.txt"), "new");
  EXPECT_EQ(Listing(dir.path()),
            (std::vector<std::string>{"far.lnk", "near.lnk", "sub", "target.txt"}));
  EXPECT_EQ(Listing(dir.path() + "/sub"), std::vector<std::string>{"far.txt"});
}

// Another process appends to a file while rplc works on it: whatever the
// moment, the appended line is never lost (rplc either rewrote the file
// before it, or saw the change and left the file alone with an error).
TEST(RplcExe, ChangeDuringTheRunIsNeverLostOnWindows) {
  int noticed = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    TempDir dir;
    const std::string original(24u << 20, 'x');
    const std::string path = dir.Write("big.txt", original);
    const RunResult r = RunRplcWith({"big.txt", "-f=x", "-t=y"}, dir.path(), [&](int) {
      ::usleep(useconds_t(300000 + 300000 * attempt));
      std::ofstream(path, std::ios::app | std::ios::binary) << "appended";
    });
    const std::string text = dir.Read("big.txt");
    ASSERT_GE(text.size(), 8u);
    EXPECT_EQ(text.substr(text.size() - 8), "appended") << "status " << r.status;
    if (r.status == 255) {
      ++noticed;
      EXPECT_NE(r.err.find("the file changed while it was being processed"), std::string::npos)
          << r.err;
      EXPECT_EQ(text, original + "appended");
    }
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"big.txt"});
  }
  if (noticed == 0) GTEST_SKIP() << "every append came after the rewrite";
}

}  // namespace
}  // namespace rplc_test
