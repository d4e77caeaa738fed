// End-to-end runs of rplc filtering standard input.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "run_binary.h"

namespace rplc_test {
namespace {

const std::string kRule(79, '=');
const std::string kHelpStart = "\n\n" + kRule + "\n";

bool IsHelp(const RunResult& r) {
  return r.out.compare(0, kHelpStart.size(), kHelpStart) == 0 && r.err.empty() &&
         r.status == 0;
}

TEST(StdioModeTest, HelpDecisions) {
  const std::vector<std::vector<std::string>> asked = {
      {},
      {"-h", "-f:a", "-t:b"},
      {"-?"},
      {"/H"},
  };
  for (const auto& args : asked) {
    const RunResult r = RunRplc(args, "abc");
    EXPECT_TRUE(IsHelp(r)) << "args[0]=" << (args.empty() ? "" : args[0]) << " out=" << r.out.substr(0, 40);
  }
  EXPECT_EQ(RunRplc({}).out, RunRplc({"-h"}).out);
  // Without a usable find and replacement the reason and a hint where to
  // look go to standard error, and the run fails.
  const std::vector<std::vector<std::string>> incomplete = {
      {"-f:abc"},               // no replacement switch
      {"-f:abc", "-tu"},        // an empty -tu is no replacement
      {"-f:abc", "-tl:"},
      {"-f:", "-t:x"},          // empty find text
      {"-t:x"},                 // no find switch
  };
  for (const auto& args : incomplete) {
    const RunResult r = RunRplc(args, "abc");
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.err.rfind("[ERROR] ", 0), 0u) << args[0];
    EXPECT_EQ(r.err.find(kHelpStart), std::string::npos) << args[0];
    EXPECT_EQ(r.err.substr(r.err.find('\n')), "\nrun 'rplc -h' for the switches\n") << args[0];
    EXPECT_EQ(r.status, 255) << args[0];
  }
}

struct FilterCase {
  std::vector<std::string> args;
  std::string input;
  std::string output;
};

// Every row runs in the expanding mode and again with -noexp.
TEST(StdioModeTest, FiltersInBothMemoryModes) {
  const FilterCase cases[] = {
      {{"-f:teh", "-t:the"}, "teh cat sat on teh mat\n", "the cat sat on the mat\n"},
      {{"-f:abc", "-t"}, "xabcyabc", "xy"},                      // bare -t deletes
      {{"-f:a", "-r:b", "-t:X"}, "ab", "Xb"},                    // literal wins
      {{"-t:x", "-tu:y", "-f:a"}, "aA", "xA"},                   // -t wins, not upper-cased
      {{"-fic:AB", "-t:x"}, "AbaBab", "xxx"},
      {{"-f:a", "-tu:xy"}, "a", "XY"},
      {{"-r:(\\w+) (\\w+)", "-t:\\2 \\1"}, "hello world\n", "world hello\n"},
      {{"-r:[0-9]+", "-t:N"}, "a1 b22 c333\n", "aN bN cN\n"},
      {{"-ric:B", "-t:x"}, "abB", "axx"},
      {{"-r:^b", "-t:X"}, "a\nb", "a\nX"},
      {{"-rnnl:a.b", "-t:X"}, "a\nb", "X"},
      {{"-r:a.b", "-t:X"}, "a\nb", "a\nb"},
      {{"-r:x*", "-t:-"}, "ab", "-a-b"},
      {{"-r:(b)", "-tu:x\\1y"}, "b", "XbY"},
      {{"-r:b", "-tu:a\\nb"}, "b", "ANB"},
      {{"-r:b", "-tu:a[:nl:]b"}, "b", "A\nB"},
      {{"-r:[:dq:]", "-t:[:sq:]"}, "say \"hi\"", "say 'hi'"},
      {{"-f:[:dq:]", "-t:[:sq:]"}, "[:dq:]", "[:sq:]"},
      {{"-f:a", "-t:\\0"}, "a", "\\0"},
      {{"-f:zz", "-t:y"}, std::string("\r\n\0\x80\xff q", 7), std::string("\r\n\0\x80\xff q", 7)},
      {{"-r:zz", "-t:y"}, std::string("\r\n\0\x80\xff q", 7), std::string("\r\n\0\x80\xff q", 7)},
      {{"-f:\xC3\xA9", "-t:e"}, "caf\xC3\xA9\r\n", "cafe\r\n"},
      {{"-stdio", "nosuch.txt", "-f:a", "-t:b"}, "aa", "bb"},
      {{"-f:a", "-t:b", "-trc"}, "aa", "bb\n## total replaced 2 matchs\n"},
      {{"-f:zz", "-t:y", "-trc"}, "abc", "abc"},
      {{"-f:a", "-t:b", "-trc"}, "", ""},
      {{"-f:a", "-t:b"}, "", ""},
  };
  for (const FilterCase& c : cases) {
    for (bool noexp : {false, true}) {
      std::vector<std::string> args = c.args;
      if (noexp) args.push_back("-noexp");
      const RunResult r = RunRplc(args, c.input);
      EXPECT_EQ(r.out, c.output) << args[0] << " " << (args.size() > 1 ? args[1] : "")
                                 << (noexp ? " -noexp" : "");
      EXPECT_EQ(r.err, "") << args[0];
      EXPECT_EQ(r.status, 0) << args[0];
    }
  }
}

TEST(StdioModeTest, InvalidExpressionIsReportedAndInputPassesThrough) {
  for (const char* mode : {"-exp", "-noexp"}) {
    const RunResult r = RunRplc({"-r:a(", "-t:x", mode}, "a(b\n");
    EXPECT_EQ(r.out, "a(b\n");
    EXPECT_EQ(r.err.rfind("[ERROR] invalid regular expression: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(r.status, 255);
  }
}

TEST(StdioModeTest, FailedOutputIsAFatalError) {
  const RunResult r = RunRplc({"-f:a", "-t:b"}, "aaa", "", "/dev/full");
  EXPECT_EQ(r.err,
            "[FATAL ERROR] Velk runtime lib error: StdStream::Write - error writing standard output\n"
            "  sys error  = 28\n"
            "  error desc = No space left on device\n");
  EXPECT_EQ(r.status, 255);
}

TEST(StdioModeTest, LargeInputPassesWhole) {
  std::string input;
  for (int i = 0; i < 300000; ++i) input += "line " + std::to_string(i) + " teh end\n";
  std::string expected = input;
  for (std::size_t p = 0; (p = expected.find("teh", p)) != std::string::npos; p += 3)
    expected.replace(p, 3, "the");
  const RunResult r = RunRplc({"-f:teh", "-t:the"}, input);
  EXPECT_TRUE(r.out == expected);
  EXPECT_EQ(r.status, 0);
}

}  // namespace
}  // namespace rplc_test
