// The processor-time budget of searches with back-references: a runaway
// search ends the process with the error, the budget belongs to one
// subject (a new text starts a new one), and expressions without
// back-references are never bounded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "engine/compile_matcher.h"
#include "engine/find_next.h"
#include "engine/pattern_limits.h"

namespace Velk {
namespace {

narrow_buffer Buf(const std::string& s) {
  return narrow_buffer(s.data(), std::uint32_t(s.size()));
}

Matcher Compile(const char* pattern) { return compile_matcher(narrow_buffer(pattern), {}); }

TEST(SearchBudgetTest, RunawaySearchEndsTheProcessWithTheError) {
  EXPECT_EXIT(
      {
        const Matcher m = Compile("***:^(a*)(a*)\\2\\1b");
        SpanList spans;
        find_next(Buf(std::string(3000, 'a') + "ba"), spans, m, 0);
        _exit(0);
      },
      ::testing::ExitedWithCode(255),
      "^\\[FATAL ERROR\\] regular expression search stopped: the back-references of the "
      "pattern make it too slow for this text\n$");
}

TEST(SearchBudgetTest, EachSubjectHasItsOwnBudget) {
  // About 0.1-0.3 s per search; together far more than one budget.
  EXPECT_EXIT(
      {
        const Matcher m = Compile("***:^(a*)\\1b");
        const std::string text = std::string(1000, 'a') + "b";
        SpanList spans;
        for (int round = 0; round < 25; ++round) {
          if (!find_next(Buf(text), spans, m, 0)) _exit(1);
          if (spans[0].length != 1001) _exit(2);
        }
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "^$");
}

TEST(SearchBudgetTest, WhichPatternsHaveBackReferences) {
  struct {
    const char* pattern;
    bool extended;
    bool expected;
  } rows[] = {
      {"***:(a)\\1", true, true},   {"(a)\\1", true, true},   {"\\(a\\)\\1", false, true},
      {"***:(a)[\\1]", true, false}, {"***=(a)\\1", true, false}, {"***:(?q)\\1", true, false},
      {"(a)\\\\1", true, false},     {"\\0\\d", true, false},
  };
  for (const auto& row : rows) {
    wide_buffer wide;
    for (const char* c = row.pattern; *c; ++c) wide.push_back(char16_t(*c));
    EXPECT_EQ(pattern_has_back_references(wide, row.extended), row.expected) << row.pattern;
  }
}

}  // namespace
}  // namespace Velk
