// compile_matcher, find_next and the engine binding underneath them.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "engine/compile_matcher.h"
#include "engine/find_next.h"
#include "engine/pattern_director.h"
#include "engine/regex_engine.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer buf(const std::string& s) { return narrow_buffer(s.data(), std::uint32_t(s.size())); }

TEST(MatcherTest, CompileFlagsOfEachSwitchAndDirector) {
  struct {
    const char* pattern;
    bool ignore_case;
    bool newline;
    std::uint32_t flags;
  } rows[] = {
      {"abc", false, true, 0xC1},          {"abc", true, true, 0xC9},
      {"abc", false, false, 0x01},         {"abc", true, false, 0x09},
      {"***:abc", false, true, 0x01},      {"***:(?n)abc", false, false, 0xC1},
      {"***:(?i)abc", false, true, 0xC1},  {"***:(?i)abc", false, false, 0x01},
      {"***=a(", false, true, 0x01},       {"***:(?m)a", false, false, 0xC1},
      {"***:(?w)a", false, false, 0x81},   {"***:(?p)a", false, true, 0x41},
      {"***:(?s)a", false, true, 0x01},    {"***:(?sn)a", false, false, 0xC1},
      {"***:(?ps)a", true, true, 0x09},
  };
  for (const auto& row : rows) {
    const Matcher m = compile_matcher(
        row.pattern, {.ignore_case = row.ignore_case, .newline_sensitive = row.newline});
    ASSERT_FALSE(m.empty()) << row.pattern;
    EXPECT_EQ(m.flags(), row.flags) << row.pattern;
  }
  EXPECT_EQ(pattern_newline_flags(wide_buffer(u"***:(?w)x"), false), REGEX_NLANCH);
  EXPECT_EQ(pattern_newline_flags(wide_buffer(u"***x"), true), 0u);
}

// The option letters of an advanced expression apply in order, as the
// engine applies them: what the reader predicts for each combination is
// what the engine itself does with "." before a line feed, "^" after one,
// case, and literal or basic syntax.
TEST(MatcherTest, OptionLettersApplyInTheEnginesOrder) {
  const std::string letters = "nmwpsqbeict";
  std::vector<std::string> groups;
  for (char a : letters) {
    groups.push_back(std::string(1, a));
    for (char b : letters) groups.push_back(std::string{a, b});
  }
  for (const char* three : {"nsp", "qbn", "bqn", "pwn", "isc", "qxb", "eqs", "wqe"})
    groups.push_back(three);
  // Each probe: a body, a subject, and the expected match from the
  // reader's prediction.
  auto matches = [](const std::string& pattern, std::uint32_t flags, const std::string& text) {
    regex_handle* handle = compile_regex(buf(pattern), flags);
    EXPECT_NE(handle, nullptr) << pattern;
    if (!handle) return false;
    REGEX_RANGE range[1];
    const std::u16string units(text.begin(), text.end());
    const bool found = exec_regex(handle, units.data(), std::uint32_t(units.size()), 0, 1,
                                  range) == regex_status::match;
    free_regex(handle);
    return found;
  };
  for (const std::string& group : groups) {
    for (bool by_default : {false, true}) {
      for (bool nocase : {false, true}) {
        const std::string head = "***:(?" + group + ")";
        const std::uint32_t base = REGEX_EXTENDED | (by_default ? REGEX_NEWLINE : 0) |
                                   (nocase ? REGEX_NOCASE : 0);
        const PATTERN_DIRECTOR d =
            read_pattern_director(buf(head + "x"), true, nocase, base & REGEX_NEWLINE);
        SCOPED_TRACE(head + (by_default ? " newline default" : "") + (nocase ? " nocase" : ""));
        ASSERT_TRUE(d.option_group);
        EXPECT_FALSE(d.bad_options);
        // The flags compile_matcher passes: the reader's newline bits.
        const std::uint32_t flags = (base & ~REGEX_NEWLINE) | d.newline;
        const Matcher m = compile_matcher(buf(head + "x"),
                                          {.ignore_case = nocase, .newline_sensitive = by_default});
        ASSERT_FALSE(m.empty());
        EXPECT_EQ(m.flags(), flags);
        // The engine itself applies the letters to the switch's flags.
        const bool literal = d.syntax == pattern_syntax::literal;
        // "a.b": literal only as written; "." skips a line feed under NLSTOP.
        EXPECT_EQ(matches(head + "a.b", base, "a\nb"), !literal && !(d.newline & REGEX_NLSTOP));
        EXPECT_EQ(matches(head + "a.b", base, "a.b"), true);
        // "^b" after a line feed: only under NLANCH.
        EXPECT_EQ(matches(head + "^b", base, "a\nb"), !literal && (d.newline & REGEX_NLANCH));
        EXPECT_EQ(matches(head + "^b", base, "^b"), literal);
        // Case.
        EXPECT_EQ(matches(head + "A", base, "a"), d.ignore_case);
        // "a+" is a repetition in extended and advanced syntax only.
        EXPECT_EQ(matches(head + "a+", base, "aa"),
                  d.syntax == pattern_syntax::extended || d.syntax == pattern_syntax::advanced);
      }
    }
  }
  // Not an option group: "(?:" is a group, an unknown letter or a missing
  // ")" an error.
  EXPECT_FALSE(read_pattern_director(buf("***:(?:a)"), true, false, REGEX_NEWLINE).option_group);
  EXPECT_EQ(read_pattern_director(buf("***:(?:a)"), true, false, REGEX_NEWLINE).newline, 0u);
  EXPECT_TRUE(read_pattern_director(buf("***:(?nz)a"), true, false, 0).bad_options);
  EXPECT_TRUE(read_pattern_director(buf("***:(?n"), true, false, 0).bad_options);
  EXPECT_EQ(read_pattern_director(buf("***=a.b"), true, false, REGEX_NEWLINE).syntax,
            pattern_syntax::literal);
  EXPECT_EQ(read_pattern_director(buf("***=a.b"), true, false, REGEX_NEWLINE).newline, 0u);
}

TEST(MatcherTest, RejectedPatternIsEmptyAndKeepsTheReason) {
  narrow_buffer reason("stale");
  Matcher m = compile_matcher("a(", {}, &reason);
  EXPECT_TRUE(m.empty());
  EXPECT_EQ(m.flags(), 0u);
  EXPECT_EQ(str(reason), "parentheses () not balanced");
  m = compile_matcher("a", {}, &reason);
  EXPECT_FALSE(m.empty());
  EXPECT_EQ(str(reason), "");
  EXPECT_TRUE(compile_matcher("", {}, &reason).empty());
  EXPECT_TRUE(compile_matcher("***", {}).empty());
  SpanList spans;
  EXPECT_FALSE(find_next("a(", spans, Matcher(), 0));
}

TEST(MatcherTest, SharesOutliveTheOriginal) {
  SpanList spans;
  Matcher copy;
  {
    const Matcher m = compile_matcher("b", {});
    copy = m;
  }
  ASSERT_TRUE(find_next("abc", spans, copy, 0));
  EXPECT_EQ(spans[0].start, 1u);
}

TEST(FindNextTest, SpansAndStart) {
  SpanList spans;
  const Matcher any = compile_matcher("x*", {});
  EXPECT_FALSE(find_next("ab", spans, any, 2));  // never at the end
  ASSERT_TRUE(find_next("ab", spans, any, 1));
  EXPECT_EQ(spans[0].start, 1u);
  EXPECT_EQ(spans[0].length, 0u);

  const Matcher twelve = compile_matcher("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)", {});
  EXPECT_EQ(twelve.group_count(), 12u);
  ASSERT_TRUE(find_next("xabcdefghijkl", spans, twelve, 0));
  ASSERT_EQ(spans.size(), 10u);
  EXPECT_EQ(spans[0].start, 1u);
  EXPECT_EQ(spans[0].length, 12u);
  EXPECT_EQ(spans[9].start, 9u);  // the ninth group, "i"
  EXPECT_EQ(spans[9].length, 1u);

  const Matcher either = compile_matcher("(a)|(b)", {});
  ASSERT_TRUE(find_next("a", spans, either, 0));
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(spans[1].length, 1u);
  EXPECT_EQ(spans[2].length, 0u);

  // max_spans limits what the engine is asked for.
  const Matcher pair = compile_matcher("(a)(b)", {});
  ASSERT_TRUE(find_next("ab", spans, pair, 0, {.max_spans = 1}));
  EXPECT_EQ(spans.size(), 1u);
  EXPECT_EQ(spans[0].length, 2u);
}

TEST(FindNextTest, Skip) {
  SpanList spans;
  const Matcher x = compile_matcher("x", {});
  ASSERT_TRUE(find_next("axbxc", spans, x, 0, {.skip = 1}));
  EXPECT_EQ(spans[0].start, 3u);
  EXPECT_FALSE(find_next("axbxc", spans, x, 0, {.skip = 2}));
  const Matcher any = compile_matcher("x*", {});
  ASSERT_TRUE(find_next("ab", spans, any, 0, {.skip = 1}));  // steps one byte on
  EXPECT_EQ(spans[0].start, 1u);
  EXPECT_FALSE(find_next("ab", spans, any, 0, {.skip = 2}));
  // Skip counts distinct matches: after an empty match the next pass begins
  // one byte on, and no pass begins at the end of the text.
  struct {
    const char* pattern;
    const char* text;
    std::uint32_t skip;
    std::int32_t start;  // -1: no match
  } rows[] = {
      {"x*$", "ab", 0, 2},  {"x*$", "ab", 1, -1}, {"x*", "ab", 0, 0},   {"x*", "ab", 1, 1},
      {"x*", "ab", 2, -1},  {"b*", "abb", 1, 1},  {"b*", "abb", 2, -1}, {"a|x*$", "a", 1, -1},
      {"$", "a\nb", 0, 1}, {"$", "a\nb", 1, 3}, {"$", "a\nb", 2, -1},
  };
  for (const auto& row : rows) {
    const Matcher m = compile_matcher(row.pattern, {});
    const bool found = find_next(row.text, spans, m, 0, {.skip = row.skip});
    ASSERT_EQ(found, row.start >= 0) << row.pattern << " skip " << row.skip;
    if (found) {
      EXPECT_EQ(spans[0].start, std::uint32_t(row.start)) << row.pattern << " skip " << row.skip;
    }
  }
  // Later passes decide the line beginning themselves.
  const Matcher bol = compile_matcher("^x", {});
  ASSERT_TRUE(find_next("x\nx", spans, bol, 0, {.skip = 1}));
  EXPECT_EQ(spans[0].start, 2u);
}

TEST(FindNextTest, LineBeginning) {
  SpanList spans;
  const Matcher nl = compile_matcher("^b", {});
  const Matcher whole = compile_matcher("^b", {.newline_sensitive = false});
  const narrow_buffer text("a\nb"), flat("ab");
  // After a line feed; not after one where the expression is not sensitive.
  EXPECT_TRUE(find_next(text, spans, nl, 2, {.notbol = true, .derive_bol = true}));
  EXPECT_FALSE(find_next(text, spans, whole, 2, {.derive_bol = true}));
  EXPECT_FALSE(find_next(flat, spans, nl, 1, {.derive_bol = true}));
  // Without the context the caller's flag decides.
  EXPECT_TRUE(find_next(flat, spans, nl, 1));
  EXPECT_FALSE(find_next(flat, spans, nl, 1, {.notbol = true}));
  // "^" after a line feed inside; notbol is for offset 0 only.
  EXPECT_TRUE(find_next(text, spans, nl, 0, {.derive_bol = true}));
  EXPECT_FALSE(find_next(flat, spans, nl, 1, {.notbol = true, .derive_bol = true}));
  EXPECT_FALSE(find_next(flat, spans, nl, 0, {.notbol = true, .derive_bol = true}));
  const Matcher end = compile_matcher("b$", {.newline_sensitive = false});
  EXPECT_TRUE(find_next(flat, spans, end, 0));
  EXPECT_FALSE(find_next(flat, spans, end, 0, {.noteol = true}));
}

// Each class covers exactly the ASCII characters the C library puts in it,
// and no byte 0x80-0xFF, with and without ignore case.
TEST(EngineTest, ClassesAreAsciiOnly) {
  struct {
    const char* name;
    int (*is)(int);
  } classes[] = {
      {"alpha", isalpha}, {"alnum", isalnum}, {"digit", isdigit}, {"xdigit", isxdigit},
      {"lower", islower}, {"upper", isupper}, {"space", isspace}, {"blank", isblank},
      {"punct", ispunct}, {"print", isprint}, {"graph", isgraph}, {"cntrl", iscntrl},
  };
  SpanList spans;
  for (const auto& c : classes) {
    for (const bool ignore_case : {false, true}) {
      const Matcher m = compile_matcher(narrow_buffer("^[[:") + c.name + ":]]$",
                                        {.ignore_case = ignore_case, .newline_sensitive = false});
      ASSERT_FALSE(m.empty()) << c.name;
      const std::string name = c.name;
      for (int ch = 0; ch < 256; ++ch) {
        bool expected = ch < 0x80 && c.is(ch);
        if (ignore_case && (name == "lower" || name == "upper")) expected = ch < 0x80 && isalpha(ch);
        const std::string subject(1, char(ch));
        EXPECT_EQ(find_next(buf(subject), spans, m, 0), expected)
            << c.name << (ignore_case ? " ignoring case, byte " : ", byte ") << ch;
      }
    }
  }
}

TEST(EngineTest, HighBytesFoldNowhereAndKeepTheirOrder) {
  SpanList spans;
  for (const char* p : {".", "[^a]", "[^[:alpha:]]", "\\W", "\\S", "\\D", "\\P"}) {
    const Matcher m = compile_matcher(p, {.ignore_case = true});
    for (int ch = 0x80; ch < 0x100; ++ch)
      EXPECT_TRUE(find_next(buf(std::string(1, char(ch))), spans, m, 0)) << p << " byte " << ch;
  }
  for (const char* p : {"\\w", "\\s", "\\d", "\\p", "\\a", "\\x"}) {
    const Matcher m = compile_matcher(p, {.ignore_case = true});
    for (int ch = 0x80; ch < 0x100; ++ch)
      EXPECT_FALSE(find_next(buf(std::string(1, char(ch))), spans, m, 0)) << p << " byte " << ch;
  }
  // Ignore case: each high byte matches itself only.
  for (int ch = 0x80; ch < 0x100; ++ch) {
    const Matcher m = compile_matcher(buf(std::string(1, char(ch))), {.ignore_case = true});
    std::string all;
    for (int other = 0; other < 0x100; ++other) all.push_back(char(other));
    ASSERT_TRUE(find_next(buf(all), spans, m, 0));
    EXPECT_EQ(spans[0].start, std::uint32_t(ch));
    EXPECT_FALSE(find_next(buf(all), spans, m, std::uint32_t(ch) + 1));
  }
  const Matcher range = compile_matcher("^[\xA0-\xBF]+$", {.ignore_case = true});
  EXPECT_TRUE(find_next("\xA0\xB5\xBF", spans, range, 0));
  EXPECT_FALSE(find_next("\x9F", spans, range, 0));
  EXPECT_FALSE(find_next("\xC0", spans, range, 0));
  EXPECT_TRUE(compile_matcher("[\xBF-\xA0]", {}).empty());
}

TEST(EngineTest, SubjectStaysInStepWithEdits) {
  regex_subject units(narrow_buffer("abc"));
  units.replace(1, 1, "X\xE9Z", 3);
  ASSERT_EQ(units.length(), 5u);
  const char16_t grown[] = {u'a', u'X', char16_t(0xD8E9), u'Z', u'c'};
  for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(units.unit(i), grown[i]) << i;
  units.replace(0, 4, "", 0);
  ASSERT_EQ(units.length(), 1u);
  EXPECT_EQ(units.unit(0), u'c');
  // Many growing edits (the capacity grows ahead of the length).
  for (int i = 0; i < 1000; ++i) units.replace(units.length(), 0, "ab", 2);
  EXPECT_EQ(units.length(), 2001u);
  EXPECT_EQ(units.unit(2000), u'b');
}

TEST(EngineTest, WideFormPassesUnitsAsTheyAre) {
  const wide_buffer pattern(u"[[:alpha:]]+");
  regex_handle* handle = compile_regex(pattern, REGEX_EXTENDED);
  ASSERT_NE(handle, nullptr);
  const char16_t text[] = {u'1', 0x00E9, u'a', u'2'};
  REGEX_RANGE ranges[REGEX_MAX_RANGES];
  ASSERT_EQ(exec_regex(handle, text, 4, 0, 1, ranges), regex_status::match);
  EXPECT_EQ(ranges[0].start, 1);
  EXPECT_EQ(ranges[0].end, 3);
  EXPECT_EQ(exec_regex(handle, text, 1, 0, 1, ranges), regex_status::no_match);
  free_regex(handle);
  narrow_buffer reason;
  EXPECT_EQ(compile_regex(wide_buffer(u"(?"), REGEX_EXTENDED, &reason), nullptr);
  EXPECT_FALSE(reason.empty());
}

}  // namespace
}  // namespace Velk
