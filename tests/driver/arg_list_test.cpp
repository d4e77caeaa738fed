#include "driver/arg_list.h"
#include "driver/switch_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velk {
namespace {

CArgList make(std::vector<const char*> args) {
  args.insert(args.begin(), "rplc");
  return CArgList(int(args.size()), args.data(), narrow_buffer::literal("-/"),
                  narrow_buffer::literal(":="), 1);
}
std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer kw(const char* k) { return narrow_buffer::literal(k); }

TEST(CArgListTest, PrefixSeparatorAndCaseVariantsAreOneSwitch) {
  for (const char* arg : {"-FIC:abc", "/fic=abc", "-fic:abc"}) {
    CArgList list = make({arg});
    EXPECT_TRUE(list.HasSwitch(kw("fic"))) << arg;
    EXPECT_EQ(str(list.GetSwitchValue(kw("FiC"))), "abc") << arg;
    EXPECT_EQ(list.GetPatternCount(), 0u);
  }
}

TEST(CArgListTest, OnlyTheFirstSeparatorSplits) {
  struct Case { const char* arg; const char* name; const char* value; };
  const Case cases[] = {{"-f:C:\\x", "f", "C:\\x"}, {"-f=a:b", "f", "a:b"},
                        {"-f:", "f", ""},           {"-f", "f", ""},
                        {"-f:a=b", "f", "a=b"},     {"/t:Mixed Case", "t", "Mixed Case"}};
  for (const Case& c : cases) {
    CArgList list = make({c.arg});
    EXPECT_TRUE(list.HasSwitch(kw(c.name))) << c.arg;
    EXPECT_EQ(str(list.GetSwitchValue(kw(c.name))), c.value) << c.arg;
  }
}

TEST(CArgListTest, FirstOccurrenceWins) {
  CArgList list = make({"-t:a", "-t:b"});
  EXPECT_EQ(str(list.GetSwitchValue(kw("t"))), "a");
  EXPECT_EQ(list.FindSwitch(kw("t"), 1), 2);
  EXPECT_EQ(list.FindSwitch(kw("t"), 2), -1);
  EXPECT_EQ(list.FindSwitch(kw(""), 0), -1);
}

TEST(CArgListTest, SlashPathBeforeDoubleDashIsASwitch) {
  CArgList list = make({"/tmp/x.txt", "-f:a"});
  EXPECT_TRUE(list.HasSwitch(kw("tmp/x.txt")));
  EXPECT_EQ(list.GetPatternCount(), 0u);
}

// As the driver builds it on POSIX: "/" also begins absolute paths.
CArgList make_posix(std::vector<const char*> args) {
  args.insert(args.begin(), "rplc");
  return CArgList(int(args.size()), args.data(), narrow_buffer::literal("-/"),
                  narrow_buffer::literal(":="), 1, narrow_buffer::literal("/"), IsKnownSwitch);
}

TEST(CArgListTest, SlashOpensASwitchOnlyBeforeAKnownName) {
  CArgList list = make_posix({"/tmp/x.txt", "/F=a", "/s", "/", "/f", "/nosuch:1", "-nosuch:2",
                              "/RNNLIC:b", "/:x", "/t"});
  EXPECT_EQ(list.GetPatternCount(), 4u);
  EXPECT_EQ(str(list.GetPattern(0)), "/tmp/x.txt");
  EXPECT_EQ(str(list.GetPattern(1)), "/");
  EXPECT_EQ(str(list.GetPattern(2)), "/nosuch:1");
  EXPECT_EQ(str(list.GetPattern(3)), "/:x");
  EXPECT_EQ(str(list.GetSwitchValue(kw("f"))), "a");
  EXPECT_EQ(str(list.GetSwitchValue(kw("rnnlic"))), "b");
  EXPECT_TRUE(list.HasSwitch(kw("s")));
  EXPECT_TRUE(list.HasSwitch(kw("t")));
  // "-" always opens a switch: the driver refuses an unknown one.
  EXPECT_TRUE(list.HasSwitch(kw("nosuch")));
  EXPECT_EQ(list.GetSwitchCount(), 6u);
  EXPECT_EQ(str(list.GetSwitch(3).text), "-nosuch:2");
}

TEST(CArgListTest, DoubleDashEndsSwitches) {
  CArgList list = make({"a.txt", "-f:x", "--", "/tmp/x.txt", "-s", "--"});
  EXPECT_EQ(list.GetPatternCount(), 4u);
  EXPECT_EQ(str(list.GetPattern(0)), "a.txt");
  EXPECT_EQ(str(list.GetPattern(1)), "/tmp/x.txt");
  EXPECT_EQ(str(list.GetPattern(2)), "-s");
  EXPECT_EQ(str(list.GetPattern(3)), "--");
  EXPECT_EQ(str(list.GetPattern(4)), "");
  EXPECT_FALSE(list.HasSwitch(kw("s")));
  EXPECT_TRUE(list.HasSwitch(kw("f")));
}

TEST(CArgListTest, EmptySwitchNamesAreIgnoredAndCountsAgree) {
  CArgList list = make({"-", "a", "/", "-:x", "=y", "b"});
  EXPECT_EQ(list.GetPatternCount(), 3u);
  EXPECT_EQ(str(list.GetPattern(0)), "a");
  EXPECT_EQ(str(list.GetPattern(1)), "=y");
  EXPECT_EQ(str(list.GetPattern(2)), "b");
  EXPECT_EQ(list.GetSwitchCount(), 0u);
}

TEST(CArgListTest, ProgramNameIsNeverASwitchOrPattern) {
  const char* argv[] = {"-f:prog"};
  CArgList list(1, argv, narrow_buffer::literal("-/"), narrow_buffer::literal(":="), 1);
  EXPECT_FALSE(list.HasSwitch(kw("f")));
  EXPECT_EQ(list.GetPatternCount(), 0u);
  CArgList none(0, nullptr, narrow_buffer::literal("-/"), narrow_buffer::literal(":="), 1);
  EXPECT_EQ(none.GetPatternCount(), 0u);
}

TEST(CArgListTest, QuestionMarkAndBytesAreKeptVerbatim) {
  CArgList list = make({"-?", "-r:\xE9\x80(x)", "file\\with:colon"});
  EXPECT_TRUE(list.HasSwitch(kw("?")));
  EXPECT_EQ(str(list.GetSwitchValue(kw("r"))), "\xE9\x80(x)");
  EXPECT_EQ(str(list.GetPattern(0)), "file\\with:colon");
}

}  // namespace
}  // namespace Velk
