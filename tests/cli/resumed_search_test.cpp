// End-to-end: where a search resumes after a replacement, what the pattern
// may see before it ("^", the advanced word constraints) is the input, in
// both memory modes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_binary.h"

namespace rplc_test {
namespace {

struct ResumeCase {
  std::vector<std::string> args;
  std::string input;
  std::string output;
};

TEST(ResumedSearchTest, LeftContextIsTheInputInBothMemoryModes) {
  const ResumeCase cases[] = {
      {{"-r:^#", "-t:"}, "##x\n", "#x\n"},
      {{"-r:^#", "-t:"}, "##x\n##y\n", "#x\n#y\n"},
      {{"-rnnl:^#", "-t:"}, "##x\n##y\n", "#x\n##y\n"},
      {{"-r:^.", "-t:"}, "abc\ndef\n", "bc\nef\n"},
      {{"-ric:^A", "-t:"}, "aAa\n", "Aa\n"},
      {{"-r:a|^b", "-t:\\n"}, "ab", "\nb"},    // a line feed written starts no line
      {{"-r:b|^", "-t:\\n"}, "ab", "\na\n"},
      {{"-rnnl:^", "-t:-"}, "abc", "-abc"},
      {{"-r:***:\\mfoo", "-t:X"}, "foofoo foo", "Xfoo X"},
      {{"-r:***:\\y", "-t:|"}, "ab cd", "|ab| |cd|"},
      {{"-r:***:a|\\M-", "-t:X"}, "a-", "XX"},
      {{"-r:***:\\Aa", "-t:X"}, "aaa", "Xaa"},
  };
  for (const ResumeCase& c : cases) {
    for (bool noexp : {false, true}) {
      std::vector<std::string> args = c.args;
      if (noexp) args.push_back("-noexp");
      const RunResult r = RunRplc(args, c.input);
      EXPECT_EQ(r.out, c.output) << args[0] << " " << args[1] << (noexp ? " -noexp" : "");
      EXPECT_EQ(r.err, "") << args[0];
      EXPECT_EQ(r.status, 0) << args[0];
    }
  }
}

}  // namespace
}  // namespace rplc_test
