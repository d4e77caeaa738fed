#include "driver/replace_step.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/compile_matcher.h"

namespace Velk {
namespace {

// Every method in both memory modes gives the same text and count; an input
// without a match comes back as it was, and an expanding literal run leaves
// the scratch buffer alone (no copy of the input was made).
TEST(ReplaceStep, EveryMethodAndModeAgrees) {
  struct Row {
    FindMethod method;
    const char* find;
    const char* replacement;
    const char* input;
    const char* output;
    std::uint32_t count;
  } rows[] = {
      {FindMethod::Literal, "ab", "X", "xxabyyab", "xxXyyX", 2},
      {FindMethod::Literal, "ab", "LONGER", "ab-ab-", "LONGER-LONGER-", 2},
      {FindMethod::Literal, "ab", "X", "no match here", "no match here", 0},
      {FindMethod::Literal, "ab", "", "zzzzab", "zzzz", 1},
      {FindMethod::LiteralNoCase, "AB", "x", "aB..Ab..ab", "x..x..x", 3},
      {FindMethod::LiteralNoCase, "AB", "x", "a b", "a b", 0},
      {FindMethod::Regex, "o+", "0", "foo boo", "f0 b0", 2},
      {FindMethod::Regex, "q", "0", "foo", "foo", 0},
  };
  for (const Row& row : rows) {
    for (bool expand : {true, false}) {
      RUN_SETTINGS settings;
      settings.method = row.method;
      settings.find_text = narrow_buffer(row.find);
      settings.replacement = narrow_buffer(row.replacement);
      settings.expand = expand;
      Matcher matcher;
      if (row.method == FindMethod::Regex) matcher = compile_matcher(settings.find_text, {});
      narrow_buffer content(row.input);
      narrow_buffer scratch("untouched");
      const std::uint64_t count = ReplaceAll(settings, matcher, content, scratch);
      SCOPED_TRACE(std::string(row.input) + (expand ? " expanding" : " in place"));
      EXPECT_EQ(count, row.count);
      EXPECT_STREQ(content.c_str(), row.output);
      if (count == 0 && row.method != FindMethod::Regex) {
        EXPECT_STREQ(scratch.c_str(), "untouched");
      }
    }
  }
}

}  // namespace
}  // namespace Velk
