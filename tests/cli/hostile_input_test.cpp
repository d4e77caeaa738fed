// Hostile input against the binary: patterns that would crash or stall the
// regular-expression engine, searches that back-track without end, and
// signals and a file-size limit striking a large write-back. Every case
// must end quickly with a correct result or a clear error, and no file may
// be lost or left half-written.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_binary.h"
#include "tests/support/fs/temp_tree.h"

namespace rplc_test {
namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

using Clock = std::chrono::steady_clock;

// Whether child process pid has ended (it stays a zombie until waited for).
bool Ended(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  const auto close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z';
}

TEST(HostileInputTest, PatternsTheEngineCannotTakeAreRefusedWithAReason) {
  const std::string prefix = "[ERROR] invalid regular expression: ";
  const std::string too_long =
      "pattern is too long: more than 16384 characters once escapes such as \\w are expanded "
      "(a longer pattern takes too long to compile)";
  struct {
    std::string pattern;
    std::string reason;  // empty: the engine's own reason
  } rows[] = {
      // 50,000 nested groups once crashed the engine's compiler (recursion).
      {Repeat("(", 50000) + "a" + Repeat(")", 50000),
       too_long},
      {Repeat("(", 2000) + "a" + Repeat(")", 2000),
       "pattern nests too deeply (more than 100 levels)"},
      {"***:" + Repeat("(?:", 200) + "a" + Repeat(")", 200),
       "pattern nests too deeply (more than 100 levels)"},
      // Each of these took seconds to minutes to compile.
      {Repeat("(a)", 1000), "pattern is too complex (more than 256 groups and repetitions)"},
      {Repeat("(a|b)*", 256), "pattern is too complex (more than 256 groups and repetitions)"},
      {"((a|b)*(c|d)*(e|f)*){255}",
       "pattern is too complex (more than 256 groups and repetitions)"},
      {"(a{200}){200}", "pattern is too complex (more than 256 groups and repetitions)"},
      {"a{1000}{1000}", "pattern is too complex (more than 256 groups and repetitions)"},
      {Repeat("word|", 20000) + "end", too_long},
      {Repeat("\\w", 3000), too_long},
      // Within the length, beyond the engine's own limit of states.
      {Repeat("w", 15002),
       "pattern is too large for the engine: more than its limit of about 15000 states (about "
       "one per character or bracket expression, counted repetitions multiplied out)"},
      {"a{256}", ""},
  };
  for (const auto& row : rows) {
    const RunResult r = RunRplc({"-r=" + row.pattern, "-t=x", "-stdio"}, "abc\n");
    EXPECT_LT(r.cpu_seconds, 3) << row.pattern.substr(0, 40);
    EXPECT_EQ(r.status, 255) << row.pattern.substr(0, 40) << "\n" << r.err;
    EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
    if (!row.reason.empty()) {
      EXPECT_EQ(r.err, prefix + row.reason + "\n");
    } else {
      EXPECT_GT(r.err.size(), prefix.size() + 1) << r.err;
    }
  }
}

// Patterns just within the bounds compile in seconds at most, in every
// find variant.
TEST(HostileInputTest, PatternsWithinTheBoundsCompileQuickly) {
  const std::string rows[] = {
      Repeat("word|", 3270) + "x",  // 16 KB of alternatives, the slowest under -ric
      Repeat("\\w", 1365),
      Repeat("[ab]", 4096),  // the longest pattern taken
      Repeat("w", 15001),
      Repeat("(a*)", 128),
      Repeat("(a|b)*", 40) + Repeat(".*", 170),
      "(.*.*.*.*){50}",
      Repeat("(", 100) + "q" + Repeat(")", 100),
  };
  for (const std::string& pattern : rows) {
    for (const char* find : {"-r=", "-ric=", "-rnnlic="}) {
      const RunResult r = RunRplc({find + pattern, "-t=x", "-stdio"}, "zzz");
      // Processor time, which the machine's load does not stretch: about
      // 1 s at most in an optimised build, generous for sanitizer builds,
      // still far from the minutes these bounds prevent.
      EXPECT_LT(r.cpu_seconds, 10) << find << pattern.substr(0, 40);
      EXPECT_EQ(r.status, 0) << find << pattern.substr(0, 40);
      EXPECT_EQ(r.err, "") << find << pattern.substr(0, 40);
    }
  }
}

// Patterns that make back-tracking engines explode are found in linear time
// by this engine unless they use back-references.
TEST(HostileInputTest, ClassicExplosivePatternsMatchQuicklyAndCorrectly) {
  const std::string a30k(30000, 'a');
  struct {
    std::string pattern;
    std::string input;
    std::string output;
  } rows[] = {
      {"(a*)*b", a30k + "ba", "Xa"},
      {"(a*)*b", a30k, a30k},
      {"((a|aa)+)+$", a30k + "b", a30k + "b"},
      {"((a|aa)+)+$", a30k, "X"},
      {"(.*)(.*)(.*)(.*)(.*)c", a30k + "c", "X"},
      {"(a|aa)*(a*)*x", a30k + "y", a30k + "y"},
      {"***:(\\w+) \\1", "the the cat", "X cat"},
  };
  for (const auto& row : rows) {
    const RunResult r = RunRplc({"-r=" + row.pattern, "-t=X", "-stdio"}, row.input);
    EXPECT_LT(r.cpu_seconds, 3) << row.pattern;
    EXPECT_EQ(r.status, 0) << row.pattern << "\n" << r.err;
    EXPECT_TRUE(r.out == row.output) << row.pattern << ": " << r.out.size() << " bytes";
    EXPECT_EQ(r.err, "") << row.pattern;
  }
}

// With back-references the engine back-tracks in time that grows without
// useful bound; the search is ended by its processor-time budget with a
// clear error, and no file is touched.
TEST(HostileInputTest, RunawayBackReferenceSearchEndsWithAnError) {
  const std::string message =
      "[FATAL ERROR] regular expression search stopped: the back-references of the pattern "
      "make it too slow for this text\n";
  const std::string text = std::string(30000, 'a') + "ba";
  for (const std::string pattern : {"***:(a*)*\\1b", "***:^(a*)(a*)\\2\\1b"}) {
    const RunResult r = RunRplc({"-r=" + pattern, "-t=X", "-stdio"}, text);
    // The budget is processor time: 2 s plus 1 s per MiB of text.
    EXPECT_LT(r.cpu_seconds, 15) << pattern;
    EXPECT_EQ(r.status, 255) << pattern;
    EXPECT_EQ(r.err, message) << pattern;
    EXPECT_EQ(r.out, "") << pattern;
  }
  TempDir dir;
  dir.Write("a.txt", "aab");
  dir.Write("b.txt", text);
  const RunResult r = RunRplc({"a.txt", "b.txt", "-r=***:(a*)*\\1b", "-t=X"}, "", dir.path());
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, message);
  EXPECT_EQ(dir.Read("a.txt"), "X") << "rewritten whole before the runaway search";
  EXPECT_TRUE(dir.Read("b.txt") == text);
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST(HostileInputTest, FileSizeLimitFailsTheLargeWriteCleanly) {
  TempDir dir;
  const std::string original(48u << 20, 'x');
  dir.Write("big.txt", original);
  // The rewrite doubles the file; the limit lets only the original size be.
  const RunResult r = RunRplc({"big.txt", "-f=x", "-t=yy"}, "", dir.path(), "",
                              long(original.size()));
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err.rfind("[ERROR] can't write to file: " + dir.path() + "/big.txt\n", 0), 0u)
      << r.err;
  EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
  EXPECT_TRUE(dir.Read("big.txt") == original);
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"big.txt"});
}

// An interrupt, or SIGKILL, during the write-back of a large file leaves no
// temporary file and ends the process the way the signal would; the file
// is the old one or the new one, whole.
TEST(HostileInputTest, InterruptDuringALargeRewriteLeavesNoTemporaryFile) {
  // The window in which the temporary file exists is short and depends on
  // the machine's load, so each signal gets a few attempts; every attempt,
  // hit or not, must leave one whole file and nothing else.
  int hits = 0;
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGKILL}) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      TempDir dir;
      const std::string original(48u << 20, 'x');
      dir.Write("big.txt", original);
      bool struck_during_write = false;
      const RunResult r = RunRplcWith({"big.txt", "-f=x", "-t=yy"}, dir.path(), [&](int pid) {
        // Until the temporary file shows or rplc has ended (a slow build
        // takes long to reach the write).
        const auto begin = Clock::now();
        while (!Ended(pid) && Clock::now() - begin < std::chrono::seconds(120)) {
          if (Listing(dir.path()).size() > 1 || Velk::test::HoldsUnnamedFile(pid, dir.path())) {
            struck_during_write = true;
            break;
          }
          ::usleep(200);
        }
        ::kill(pid, signal_number);
      });
      EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"big.txt"}) << signal_number;
      const std::string text = dir.Read("big.txt");
      EXPECT_TRUE(text == original || text == std::string(original.size() * 2, 'y'))
          << "signal " << signal_number << ": size " << text.size();
      if (struck_during_write) {
        EXPECT_EQ(r.status, 128 + signal_number);
        ++hits;
        break;
      }
      EXPECT_TRUE(r.status == 0 || r.status == 128 + signal_number) << r.status;
    }
  }
  if (hits == 0) GTEST_SKIP() << "the rewrite never lasted long enough to be interrupted";
}

}  // namespace
}  // namespace rplc_test
