// End-to-end runs of rplc at a terminal: "-review" answered through a real
// pseudo-terminal (the child's controlling terminal), colors of "-diff" on
// a terminal and in a pipe, and the refusals without a terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "run_binary.h"

namespace rplc_test {
namespace {

constexpr char kPrompt[] = "[y,n,a,d,q,?]? ";
constexpr char kRed[] = "\033[31m";

struct TerminalRun {
  std::string screen;  // everything the terminal showed, echoed answers too
  int status = -1;
  int questions = 0;
};

// What the harness does when the child asks question number k (from 0):
// the answer typed, without its line feed; at_question may act first.
struct Script {
  std::vector<std::string> answers;  // past the last one: Ctrl+D
  std::function<void(int k)> at_question;
  bool no_color = false;
  std::string stdout_path;  // standard output goes there when not empty
};

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(RPLC_BINARY));
  for (std::string& each : args) argv.push_back(each.data());
  argv.push_back(nullptr);
  return argv;
}

// Runs rplc on a new pseudo-terminal in cwd and answers its questions.
// The 60-second poll only ends a hung child; it bounds no timing.
TerminalRun RunAtTerminal(std::vector<std::string> args, const std::string& cwd,
                          const Script& script) {
  TerminalRun run;
  std::vector<char*> argv = Argv(args);
  struct winsize size {};
  size.ws_row = 50;
  size.ws_col = 200;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) return run;
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(120);
    if (script.no_color)
      setenv("NO_COLOR", "1", 1);
    else
      unsetenv("NO_COLOR");
    if (!script.stdout_path.empty()) {
      const int fd = open(script.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd < 0 || dup2(fd, 1) < 0) _exit(121);
    }
    execv(argv[0], argv.data());
    _exit(122);
  }
  std::size_t seen = 0;  // prompts answered so far end before it
  for (;;) {
    struct pollfd wait_for{master, POLLIN, 0};
    if (poll(&wait_for, 1, 60000) <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    char chunk[4096];
    const ssize_t got = read(master, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // EIO: the child closed the terminal
    run.screen.append(chunk, std::size_t(got));
    std::size_t at;
    while ((at = run.screen.find(kPrompt, seen)) != std::string::npos) {
      seen = at + sizeof kPrompt - 1;
      const int k = run.questions++;
      if (script.at_question) script.at_question(k);
      const std::string typed = std::size_t(k) < script.answers.size()
                                    ? script.answers[std::size_t(k)] + "\n"
                                    : std::string("\x04");
      if (write(master, typed.data(), typed.size()) < 0) break;
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// Runs rplc without any terminal (a new session, standard streams to
// files); returns the status and what reached standard error.
int RunWithoutTerminal(std::vector<std::string> args, const std::string& cwd,
                       std::string& err) {
  std::vector<char*> argv = Argv(args);
  const std::string err_path = cwd + "/.err";
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    setsid();
    const int null = open("/dev/null", O_RDWR);
    const int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (chdir(cwd.c_str()) != 0 || null < 0 || fd < 0) _exit(120);
    dup2(null, 0);
    dup2(null, 1);
    dup2(fd, 2);
    execv(argv[0], argv.data());
    _exit(122);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  err.clear();
  const int fd = open(err_path.c_str(), O_RDONLY);
  char chunk[4096];
  ssize_t got;
  while (fd >= 0 && (got = read(fd, chunk, sizeof chunk)) > 0) err.append(chunk, std::size_t(got));
  if (fd >= 0) close(fd);
  unlink(err_path.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Three files of two or three changes each: each change is its own
// question (the matches lie more than one line apart).
void FillTree(const TempDir& dir) {
  dir.Write("a.txt", "old 1\nkeep\nold 2\n");
  dir.Write("b.txt", "keep\nold 3\nkeep\nkeep\nold 4\nkeep\nold 5");
  dir.Write("sub/c.txt", "old 6\n\nold 7\n");
}

TEST(TerminalTest, ReviewWritesExactlyTheAcceptedChanges) {
  struct Row {
    std::vector<std::string> answers;
    std::string a, b, c;
    std::string counts;  // standard output: -frc and -trc lines
    int questions;
  } rows[] = {
      {{"y", "y", "y", "y", "y", "y", "y"},
       "new 1\nkeep\nnew 2\n", "keep\nnew 3\nkeep\nkeep\nnew 4\nkeep\nnew 5",
       "new 6\n\nnew 7\n",
       "\n## 2 replacements in file: DIR/a.txt\n\n## 3 replacements in file: DIR/b.txt\n"
       "\n## 2 replacements in file: DIR/sub/c.txt\n\n## total replaced 7 matchs\n",
       7},
      {{"n", "y", "y", "n", "n", "n", "y"},
       "old 1\nkeep\nnew 2\n", "keep\nnew 3\nkeep\nkeep\nold 4\nkeep\nold 5",
       "old 6\n\nnew 7\n", "", 7},
      // a: the rest of the file; d: none of the rest.
      {{"a", "n", "d", "d"},
       "new 1\nkeep\nnew 2\n", "keep\nold 3\nkeep\nkeep\nold 4\nkeep\nold 5",
       "old 6\n\nold 7\n", "", 4},
      // q in the second file: its accepted change is written, nothing after.
      {{"y", "n", "y", "q"},
       "new 1\nkeep\nold 2\n", "keep\nnew 3\nkeep\nkeep\nold 4\nkeep\nold 5",
       "old 6\n\nold 7\n", "", 4},
      // Ctrl+D is a quit too.
      {{"n", "y"},
       "old 1\nkeep\nnew 2\n",
       "keep\nold 3\nkeep\nkeep\nold 4\nkeep\nold 5", "old 6\n\nold 7\n", "", 3},
      // Help and unknown answers ask again.
      {{"?", "maybe", "y", "q"},
       "new 1\nkeep\nold 2\n", "keep\nold 3\nkeep\nkeep\nold 4\nkeep\nold 5",
       "old 6\n\nold 7\n", "", 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.answers));
    TempDir dir;
    FillTree(dir);
    Script script;
    script.answers = row.answers;
    TempDir outdir;
    script.stdout_path = outdir.path() + "/out";
    const bool with_counts = row.counts != "";
    std::vector<std::string> args = {"a.txt", "b.txt", "sub/c.txt", "-f:old", "-t:new",
                                     "-review"};
    if (with_counts) {
      args.push_back("-frc");
      args.push_back("-trc");
    }
    const TerminalRun run = RunAtTerminal(args, dir.path(), script);
    EXPECT_EQ(run.status, 0) << run.screen;
    EXPECT_EQ(run.questions, row.questions) << run.screen;
    EXPECT_EQ(dir.Read("a.txt"), row.a);
    EXPECT_EQ(dir.Read("b.txt"), row.b);
    EXPECT_EQ(dir.Read("sub/c.txt"), row.c);
    std::string counts = row.counts;
    for (std::size_t at; (at = counts.find("DIR")) != std::string::npos;)
      counts.replace(at, 3, dir.path());
    EXPECT_EQ(outdir.Read("out"), counts);
    // The questions name the file and the line, under a colored hunk.
    EXPECT_NE(run.screen.find("(1/2) Apply this change to a.txt:1 [y,n,a,d,q,?]? "),
              std::string::npos)
        << run.screen;
    EXPECT_NE(run.screen.find(std::string(kRed) + "-old 1"), std::string::npos);
  }
}

TEST(TerminalTest, ReviewColorsFollowTheSwitchAndNoColor) {
  for (int variant = 0; variant < 3; ++variant) {
    TempDir dir;
    dir.Write("a.txt", "old\n");
    Script script;
    script.answers = {"n"};
    script.no_color = variant != 0;
    std::vector<std::string> args = {"a.txt", "-f:old", "-t:new", "-review"};
    if (variant == 2) {
      args.back() = "/REVIEW";  // either prefix, any case
      args.push_back("-color:always");
    }
    const TerminalRun run = RunAtTerminal(args, dir.path(), script);
    EXPECT_EQ(run.status, 0);
    if (variant == 1)
      EXPECT_EQ(run.screen.find("\033["), std::string::npos) << run.screen;
    else
      EXPECT_NE(run.screen.find(std::string(kRed) + "-old"), std::string::npos) << run.screen;
    EXPECT_NE(run.screen.find("-old"), std::string::npos);
    EXPECT_EQ(dir.Read("a.txt"), "old\n");
  }
}

TEST(TerminalTest, AFileChangedWhileAskedAboutIsReportedNotOverwritten) {
  TempDir dir;
  dir.Write("a.txt", "old\n");
  Script script;
  script.answers = {"y"};
  script.at_question = [&](int) { dir.Write("a.txt", "someone else's old text\n"); };
  const TerminalRun run = RunAtTerminal({"a.txt", "-f:old", "-t:new", "-review"}, dir.path(),
                                        script);
  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.screen.find("[ERROR] can't write to file: "), std::string::npos) << run.screen;
  EXPECT_EQ(dir.Read("a.txt"), "someone else's old text\n");
}

TEST(TerminalTest, InterruptAtAQuestionWritesNothingMore) {
  TempDir dir;
  FillTree(dir);
  Script script;
  script.answers = {"y", "y", "\x03"};  // Ctrl+C at the third question (in b.txt)
  const TerminalRun run =
      RunAtTerminal({"a.txt", "b.txt", "sub/c.txt", "-f:old", "-t:new", "-review"}, dir.path(),
                    script);
  // The run ends as an interrupted rewrite does: the file asked about and
  // the one after it are not processed, and the process ends by SIGINT.
  EXPECT_EQ(run.status, 128 + SIGINT) << run.screen;
  EXPECT_NE(run.screen.find("[ERROR] interrupted: 2 files not processed"), std::string::npos)
      << run.screen;
  EXPECT_EQ(dir.Read("a.txt"), "new 1\nkeep\nnew 2\n");
  EXPECT_EQ(dir.Read("b.txt"), "keep\nold 3\nkeep\nkeep\nold 4\nkeep\nold 5");
  EXPECT_EQ(dir.Read("sub/c.txt"), "old 6\n\nold 7\n");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"a.txt", "b.txt", "sub"}));
}

TEST(TerminalTest, ReviewIsRefusedWithoutATerminalAndWithOtherOutputs) {
  TempDir dir;
  dir.Write("a.txt", "old\n");
  std::string err;
  EXPECT_EQ(RunWithoutTerminal({"a.txt", "-f:old", "-t:new", "-review"}, dir.path(), err), 255);
  EXPECT_EQ(err.rfind("[ERROR] -review needs a terminal to ask at: ", 0), 0u) << err;
  EXPECT_EQ(dir.Read("a.txt"), "old\n");
  for (const char* other : {"-diff", "-stdout", "-stdio"}) {
    const RunResult r = RunRplc({"a.txt", "-f:old", "-t:new", "-review", other}, "", dir.path());
    EXPECT_EQ(r.status, 255) << other;
    EXPECT_EQ(r.err.rfind("[ERROR] -review ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("\nrun 'rplc -h' for the switches\n"), std::string::npos) << r.err;
    EXPECT_EQ(dir.Read("a.txt"), "old\n");
  }
}

TEST(TerminalTest, DiffIsColoredOnATerminalOnly) {
  TempDir dir;
  dir.Write("a.txt", "old\n");
  const std::string red_line = std::string(kRed) + "-old\033[m";
  // On a terminal: colored, unless NO_COLOR or -color:never says otherwise.
  struct Row {
    std::vector<std::string> extra;
    bool no_color;
    bool colored;
  } rows[] = {
      {{}, false, true},
      {{}, true, false},
      {{"-color:never"}, false, false},
      {{"-color:always"}, true, true},
      {{"-COLOR=auto"}, false, true},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {"a.txt", "-f:old", "-t:new", "-diff"};
    args.insert(args.end(), row.extra.begin(), row.extra.end());
    Script script;
    script.no_color = row.no_color;
    const TerminalRun run = RunAtTerminal(args, dir.path(), script);
    SCOPED_TRACE(::testing::PrintToString(row.extra) + (row.no_color ? " NO_COLOR" : ""));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.screen.find(red_line) != std::string::npos, row.colored) << run.screen;
    EXPECT_NE(run.screen.find("old"), std::string::npos);
  }
  // In a pipe: plain, unless asked for.
  RunResult r = RunRplc({"a.txt", "-f:old", "-t:new", "-diff"}, "", dir.path());
  EXPECT_EQ(r.out, "--- a.txt\n+++ a.txt\n@@ -1 +1 @@\n-old\n+new\n");
  r = RunRplc({"a.txt", "-f:old", "-t:new", "-diff", "-color"}, "", dir.path());
  EXPECT_EQ(r.out,
            "\033[1m--- a.txt\033[m\n\033[1m+++ a.txt\033[m\n\033[36m@@ -1 +1 @@\033[m\n" +
                red_line + "\n\033[32m+new\033[m\n");
  r = RunRplc({"-f:old", "-t:new", "-diff", "-color:always"}, "old\n");
  EXPECT_NE(r.out.find(red_line), std::string::npos) << r.out;
  r = RunRplc({"a.txt", "-f:old", "-t:new", "-diff", "-color:sometimes"}, "", dir.path());
  EXPECT_EQ(r.err, "[ERROR] -color takes auto, always or never\nrun 'rplc -h' for the switches\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(dir.Read("a.txt"), "old\n");
}

}  // namespace
}  // namespace rplc_test
