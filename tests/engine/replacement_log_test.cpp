// The replacement log of the six replace-all loops: one record per
// replacement, input offsets in the original text and output offsets in the
// result, the same from both memory modes; and no record when no log is
// asked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/compile_matcher.h"
#include "engine/replace_all.h"
#include "engine/replacement_log.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer buf(const std::string& s) { return narrow_buffer(s.data(), std::uint32_t(s.size())); }

enum METHOD { F, FIC, R, RNNL };

struct ROW {
  METHOD method;
  std::string pattern;
  std::string replacement;
  std::string input;
  std::string output;
  std::vector<REPLACEMENT_RECORD> log;
};

std::string show(const ReplacementLog& log) {
  std::string s;
  for (const REPLACEMENT_RECORD& r : log)
    s += "{" + std::to_string(r.input_start) + "," + std::to_string(r.input_length) + "," +
         std::to_string(r.output_start) + "," + std::to_string(r.output_length) + "} ";
  return s;
}

bool same(const ReplacementLog& a, const std::vector<REPLACEMENT_RECORD>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].input_start != b[i].input_start || a[i].input_length != b[i].input_length ||
        a[i].output_start != b[i].output_start || a[i].output_length != b[i].output_length)
      return false;
  return true;
}

// Runs one loop of the row's method in the given mode, with or without a log.
std::uint32_t run(const ROW& row, bool in_place, narrow_buffer& result, ReplacementLog* log) {
  const narrow_buffer text = buf(row.input);
  const narrow_buffer find = buf(row.pattern), replacement = buf(row.replacement);
  result = text;
  narrow_buffer output;
  std::uint32_t count = 0;
  switch (row.method) {
    case F:
      count = in_place ? replace_literal(result, find, replacement, 0, true, log)
                       : replace_literal_expand(text, output, find, replacement, 0, log);
      break;
    case FIC:
      count = in_place ? ireplace_literal(result, find, replacement, 0, true, log)
                       : ireplace_literal_expand(text, output, find, replacement, 0, log);
      break;
    case R:
    case RNNL: {
      const Matcher m = compile_matcher(find, {.newline_sensitive = row.method == R});
      count = in_place ? replace_regex(result, m, replacement, {}, log)
                       : replace_regex_expand(text, output, m, replacement, {}, log);
      break;
    }
  }
  if (!in_place) result = output;
  return count;
}

TEST(ReplacementLogTest, EveryLoopRecordsWhereItReplaced) {
  const ROW rows[] = {
      {F, "aa", "b", "aaa", "ba", {{0, 2, 0, 1}}},
      {F, "a", "xyz", "bab a", "bxyzb xyz", {{1, 1, 1, 3}, {4, 1, 6, 3}}},
      {F, "ab", "", "abab", "", {{0, 2, 0, 0}, {2, 2, 0, 0}}},
      {F, "q", "x", "abc", "abc", {}},
      {FIC, "ab", "x", "AbaB", "xx", {{0, 2, 0, 1}, {2, 2, 1, 1}}},
      {FIC, "A", "long", "-a-A", "-long-long", {{1, 1, 1, 4}, {3, 1, 6, 4}}},
      {R, "[0-9]+", "N", "a1 b22 c333", "aN bN cN", {{1, 1, 1, 1}, {4, 2, 4, 1}, {8, 3, 7, 1}}},
      {R, "x*", "-", "ab", "-a-b", {{0, 0, 0, 1}, {1, 0, 2, 1}}},
      {R, "b*", "<\\0>", "abb", "<>a<bb>", {{0, 0, 0, 2}, {1, 2, 3, 4}}},
      {R, "(a)(b)", "\\2\\1\\1", "xaby", "xbaay", {{1, 2, 1, 3}}},
      {R, "^", "> ", "a\nb", "> a\n> b", {{0, 0, 0, 2}, {2, 0, 4, 2}}},
      {R, "$", ";", "a\nb", "a;\nb;", {{1, 0, 1, 1}, {3, 0, 4, 1}}},
      {RNNL, "^#", "", "##x", "#x", {{0, 1, 0, 0}}},
      {R, "a", "", "", "", {}},
  };
  for (const ROW& row : rows) {
    for (bool in_place : {false, true}) {
      const std::string what = row.pattern + " in [" + row.input + "]" +
                               (in_place ? " in place" : " expanding");
      narrow_buffer result;
      ReplacementLog log;
      log.push_back({9, 9, 9, 9});  // a log is only appended to
      const std::uint32_t count = run(row, in_place, result, &log);
      EXPECT_EQ(str(result), row.output) << what;
      ASSERT_FALSE(log.empty()) << what;
      EXPECT_EQ(log.front().input_start, 9u) << what;
      log.erase(log.begin());
      EXPECT_EQ(count, log.size()) << what;
      EXPECT_TRUE(same(log, row.log)) << what << ": " << show(log);
      // Every record's output bytes are in the result where it says.
      for (const REPLACEMENT_RECORD& r : log)
        ASSERT_LE(r.output_start + r.output_length, result.length()) << what;
      narrow_buffer plain;
      EXPECT_EQ(run(row, in_place, plain, nullptr), count) << what;
      EXPECT_EQ(str(plain), row.output) << what;
    }
  }
}

TEST(ReplacementLogTest, SingleReplacementOfTheInPlaceLiteralLoop) {
  narrow_buffer text("xaxa");
  ReplacementLog log;
  EXPECT_EQ(replace_literal(text, narrow_buffer("a"), narrow_buffer("bc"), 0, false, &log), 1u);
  EXPECT_EQ(str(text), "xbcxa");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].input_start, 1u);
  EXPECT_EQ(log[0].output_start, 1u);
  EXPECT_EQ(log[0].output_length, 2u);
}

}  // namespace
}  // namespace Velk
