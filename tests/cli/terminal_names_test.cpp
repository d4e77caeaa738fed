// File names shown on a terminal: control bytes in names must reach it
// escaped, so that no name can move the cursor, clear the screen or send
// the terminal commands; redirected output keeps names byte for byte.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "run_binary.h"

namespace rplc_test {
namespace {

// Runs rplc in cwd with its standard streams on a pseudo-terminal; returns
// everything it wrote there.
std::string RunOnTerminal(std::vector<std::string> args, const std::string& cwd) {
  args.insert(args.begin(), RPLC_BINARY);
  std::vector<char*> argv;
  for (std::string& each : args) argv.push_back(each.data());
  argv.push_back(nullptr);
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(121);
    execv(argv[0], argv.data());
    _exit(122);
  }
  std::string shown;
  if (child < 0) return shown;
  char block[4096];
  for (ssize_t n; (n = read(terminal, block, sizeof block)) > 0;) shown.append(block, size_t(n));
  waitpid(child, nullptr, 0);
  close(terminal);
  return shown;
}

TEST(TerminalNamesTest, ControlBytesInNamesAreEscapedOnATerminalOnly) {
  TempDir dir;
  const std::string clear = "a\x1b[2Jb.txt";
  const std::string title = "t\x1b]0;owned\x07.txt";
  dir.Write(clear, "x");
  dir.Write("c\rd.txt", "x");
  ASSERT_EQ(mkfifo((dir.path() + "/" + title).c_str(), 0600), 0);
  const std::vector<std::string> args = {"*.txt", title, "-f:x", "-t:y", "-frc"};
  const std::string shown = RunOnTerminal(args, dir.path());
  EXPECT_NE(shown.find("replacements in file: " + dir.path() + "/a\\033[2Jb.txt"),
            std::string::npos) << shown;
  EXPECT_NE(shown.find("replacements in file: " + dir.path() + "/c\\rd.txt"), std::string::npos);
  EXPECT_NE(shown.find("[ERROR] failed reading file: " + dir.path() + "/t\\033]0;owned\\a.txt"),
            std::string::npos) << shown;
  EXPECT_EQ(shown.find('\x1b'), std::string::npos) << "a raw escape reached the terminal";
  EXPECT_EQ(shown.find('\x07'), std::string::npos);

  // Redirected, the same names pass as they are.
  dir.Write(clear, "x");
  const RunResult piped = RunRplc(args, "", dir.path());
  EXPECT_NE(piped.out.find("replacements in file: " + dir.path() + "/" + clear + "\n"),
            std::string::npos);
  EXPECT_EQ(piped.err.rfind("[ERROR] failed reading file: " + dir.path() + "/" + title + "\n", 0),
            0u);
}

}  // namespace
}  // namespace rplc_test
