// The bounds patterns must keep before the engine compiles them: the
// counting itself, and that compile_matcher refuses through the reason.
#include <gtest/gtest.h>

#include <string>

#include "engine/compile_matcher.h"
#include "engine/find_next.h"
#include "engine/pattern_limits.h"
#include "support/os/cpu_deadline.h"
#include "tests/support/core/sanitizers.h"

namespace Velk {
namespace {

double ThreadCpuSeconds() { return double(os::thread_cpu_time_ns()) / 1e9; }

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

wide_buffer Wide(const std::string& s) {
  wide_buffer out;
  for (char c : s) out.push_back(char16_t(static_cast<unsigned char>(c)));
  return out;
}

std::string Check(const std::string& pattern, bool extended = true) {
  narrow_buffer reason("untouched");
  if (check_pattern_limits(Wide(pattern), extended, &reason)) return "ok";
  return std::string(reason.c_str(), reason.length());
}

const char kTooDeep[] = "pattern nests too deeply (more than 100 levels)";
const char kTooComplex[] = "pattern is too complex (more than 256 groups and repetitions)";
const char kTooLong[] =
    "pattern is too long: more than 16384 characters once escapes such as \\w are expanded (a "
    "longer pattern takes too long to compile)";

TEST(PatternLimitsTest, BoundsAndHowTheyAreCounted) {
  struct {
    std::string pattern;
    bool extended;
    std::string expected;
  } rows[] = {
      {Repeat("(", 100) + "a" + Repeat(")", 100), true, "ok"},
      {Repeat("(", 101) + "a" + Repeat(")", 101), true, kTooDeep},
      {"***:" + Repeat("(?:", 101) + "a" + Repeat(")", 101), true, kTooDeep},
      {Repeat("(", 50000), true, kTooLong},  // unbalanced: still refused
      // Parentheses in brackets and escaped ones are no groups.
      {Repeat("[(]", 300) + Repeat("\\(", 300), true, "ok"},
      {Repeat("[[:alpha:](]", 300), true, "ok"},
      {"***:" + Repeat("[\\](]", 300), true, "ok"},
      // Basic syntax: \( groups, ( is a character.
      {Repeat("(", 300), false, "ok"},
      {Repeat("\\(", 101) + Repeat("\\)", 101), false, kTooDeep},
      {"***:(?b)" + Repeat("\\(", 101), true, kTooDeep},
      {"***=" + Repeat("(", 1000), true, "ok"},
      {"***:(?q)" + Repeat("(", 1000), true, "ok"},
      // Groups and repetitions, counted repeats multiplied out.
      {Repeat("(a)", 256), true, "ok"},
      {Repeat("(a)", 257), true, kTooComplex},
      {Repeat("(a*)", 128), true, "ok"},
      {Repeat("(a*)", 129), true, kTooComplex},
      {Repeat("a*", 256) + Repeat("b", 1000), true, "ok"},
      {"(a{100}){100}", true, "ok"},
      {"(a{200}){200}", true, kTooComplex},
      {"(.*.*.*.*){200}", true, kTooComplex},
      {"((a|b)*(c|d)*(e|f)*){255}", true, kTooComplex},
      {"\\(a*\\)\\{255\\}", false, kTooComplex},
      {"a{1000}{1000}", true, kTooComplex},
      {"(\\d{1,3}\\.){3}\\d{1,3}", true, "ok"},
      {"x{", true, "ok"},
      {Repeat("w", 16384), true, "ok"},
      {Repeat("w", 16385), true, kTooLong},
  };
  for (const auto& row : rows)
    EXPECT_EQ(Check(row.pattern, row.extended), row.expected)
        << row.pattern.substr(0, 60) << (row.extended ? "" : " (basic)");
}

// Every refused pattern reaches the user through compile_matcher's reason,
// quickly; a pattern that once crashed the engine's compiler by recursion
// (50,000 nested groups) is among them.
TEST(PatternLimitsTest, CompileMatcherRefusesWithTheReason) {
  const std::string rows[] = {
      Repeat("(?:", 50000) + "a" + Repeat(")", 50000),
      "***:" + Repeat("(?:", 50000) + "a" + Repeat(")", 50000),
      Repeat("(", 2000) + "a" + Repeat(")", 2000),
      Repeat("(a)", 1000),
      Repeat("\\w", 20000),
      "(a{200}){200}",
  };
  for (const std::string& pattern : rows) {
    const double begin = ThreadCpuSeconds();
    narrow_buffer reason;
    const Matcher m =
        compile_matcher(narrow_buffer(pattern.data(), std::uint32_t(pattern.size())), {}, &reason);
    EXPECT_TRUE(m.empty()) << pattern.substr(0, 40);
    EXPECT_FALSE(reason.empty()) << pattern.substr(0, 40);
    // Processor time, which the machine's load does not stretch.
#if defined(RPLC_TSAN)
    // ThreadSanitizer makes these compilations some fifty times slower.
    const double bound = 10;
#else
    const double bound = 2;
#endif
    EXPECT_LT(ThreadCpuSeconds() - begin, bound) << pattern.substr(0, 40);
  }
  // Escape translation happens first: 1,366 "\w" are 16,392 characters.
  narrow_buffer reason;
  const std::string classes = Repeat("\\w", 1366);
  EXPECT_TRUE(compile_matcher(narrow_buffer(classes.c_str()), {}, &reason).empty());
  EXPECT_STREQ(reason.c_str(), kTooLong);
}

// The two limits a long pattern meets, each with its own reason: the
// length, counted here, and the engine's automaton of about 15,000 states,
// which it alone counts (one per plain character, so 15,001 of them still
// compile). Bracket expressions are one state each whatever their length.
TEST(PatternLimitsTest, LongPatternsMeetTheLimitTheReasonNames) {
  const char kTooLarge[] =
      "pattern is too large for the engine: more than its limit of about 15000 states (about "
      "one per character or bracket expression, counted repetitions multiplied out)";
  struct {
    std::string pattern;
    bool ignore_case;
    const char* reason;  // null: compiles
  } rows[] = {
      {Repeat("w", 15001), false, nullptr},
      {Repeat("w", 15001), true, nullptr},
      {Repeat("w", 15002), false, kTooLarge},
      {Repeat("ab", 7501), true, kTooLarge},
      {Repeat("w", 16384), false, kTooLarge},
      {Repeat("w", 16385), false, kTooLong},
      {Repeat("[ab]", 4096), false, nullptr},  // 16,384 characters
      {Repeat("[ab]", 4096) + "c", false, kTooLong},
      {"***:" + Repeat("[ab]", 4095), false, nullptr},
      {"***:" + Repeat("[ab]", 4095) + "c", false, kTooLong},
      // Short, but the repetition copies its group 250 times.
      {"(" + Repeat("a", 55) + "){250}", false, nullptr},
      {"(" + Repeat("a", 78) + "){250}", false, kTooLarge},
  };
  for (const auto& row : rows) {
    narrow_buffer reason("untouched");
    const Matcher m =
        compile_matcher(narrow_buffer(row.pattern.data(), std::uint32_t(row.pattern.size())),
                        {.ignore_case = row.ignore_case}, &reason);
    const std::string label = row.pattern.substr(0, 12) + " x" + std::to_string(row.pattern.size());
    if (!row.reason) {
      EXPECT_FALSE(m.empty()) << label << ": " << reason.c_str();
      EXPECT_TRUE(reason.empty()) << label;
    } else {
      EXPECT_TRUE(m.empty()) << label;
      EXPECT_STREQ(reason.c_str(), row.reason) << label;
    }
  }
}

// An expression that reads the character before a match (\m \M \y \Y \A)
// is searched through a variant with one group more in front; where only
// the variant passes a bound the pattern is refused, since a search cut
// off at its start would find "\ma" again right after "a".
TEST(PatternLimitsTest, ReadingTheCharacterBeforeTakesOneGroupMore) {
  const std::string once =
      " once searched from the character before its start (\\m \\M \\y \\Y \\A take a "
      "group and a few states more)";
  const std::string too_large =
      "pattern is too large for the engine: more than its limit of about 15000 states (about "
      "one per character or bracket expression, counted repetitions multiplied out)";
  struct {
    std::string pattern;
    std::string reason;  // empty: compiles
  } rows[] = {
      {"***:" + Repeat("(", 99) + "\\ma" + Repeat(")", 99), ""},
      {"***:" + Repeat("(", 100) + "\\ma" + Repeat(")", 100), kTooDeep + once},
      {"***:" + Repeat("(", 100) + "a" + Repeat(")", 100), ""},
      {"***:\\y" + Repeat("(a)", 254), ""},
      {"***:\\y" + Repeat("(a)", 255), kTooComplex + once},
      {"***:\\m" + Repeat("w", 14994), ""},
      {"***:\\m" + Repeat("w", 14995), too_large + once},
  };
  for (const auto& row : rows) {
    narrow_buffer reason("untouched");
    const Matcher m = compile_matcher(
        narrow_buffer(row.pattern.data(), std::uint32_t(row.pattern.size())), {}, &reason);
    const std::string label = row.pattern.substr(0, 12) + " x" + std::to_string(row.pattern.size());
    EXPECT_EQ(m.empty(), !row.reason.empty()) << label;
    EXPECT_EQ(std::string(reason.c_str(), reason.length()), row.reason) << label;
  }
  // Within the bounds the variant finds the match once.
  const Matcher m = compile_matcher(narrow_buffer("***:\\ma"), {});
  SpanList spans;
  EXPECT_TRUE(find_next(narrow_buffer("aa"), spans, m, 0));
  EXPECT_FALSE(find_next(narrow_buffer("aa"), spans, m, 1, {.derive_bol = true}));
}

}  // namespace
}  // namespace Velk

namespace Velk {
namespace {

// Regression (fuzzing): the engine library overran a buffer when compiling
// a "***=" literal holding characters special to glob patterns (\ * ? [ ]),
// for lengths around 50 to 200 and beyond (stack smashing, or silent heap
// damage). Every length must compile and match the literal exactly.
TEST(PatternLimitsTest, LiteralDirectorWithGlobCharactersIsSafe) {
  for (const char special : {'\\', '*', '?', '[', ']'}) {
    for (int n = 1; n <= 400; n += (n < 220 ? 1 : 37)) {
      const std::string literal = std::string(std::size_t(n), special) + "x";
      const std::string pattern = "***=" + literal;
      const Matcher m = compile_matcher(narrow_buffer(pattern.c_str()), {});
      ASSERT_FALSE(m.empty()) << special << " x " << n;
      EXPECT_FALSE(m.newline_sensitive());
      const std::string text = "ab" + literal + "cd";
      SpanList spans;
      ASSERT_TRUE(find_next(narrow_buffer(text.c_str()), spans, m, 0)) << special << " x " << n;
      EXPECT_EQ(spans[0].start, 2u);
      EXPECT_EQ(spans[0].length, std::uint32_t(literal.size()));
      const std::string shorter = "ab" + literal.substr(1) + "cd";
      EXPECT_FALSE(find_next(narrow_buffer(shorter.c_str()), spans, m, 0));
    }
  }
  // Still a literal: no operator inside works.
  const Matcher m = compile_matcher(narrow_buffer("***=a.(b)*"), {.ignore_case = true});
  SpanList spans;
  EXPECT_FALSE(find_next(narrow_buffer("axb"), spans, m, 0));
  ASSERT_TRUE(find_next(narrow_buffer("zA.(B)*"), spans, m, 0));
  EXPECT_EQ(spans[0].start, 1u);
  EXPECT_EQ(m.group_count(), 0u);
}

}  // namespace
}  // namespace Velk
