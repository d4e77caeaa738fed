// Replace-all through every find method, each row checked in both memory
// modes, prepared as the driver prepares find pattern and template.
#include <gtest/gtest.h>

#include <string>

#include "engine/compile_matcher.h"
#include "engine/replace_all.h"
#include "engine/translate.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer buf(const std::string& s) { return narrow_buffer(s.data(), std::uint32_t(s.size())); }

// The find switches.
enum METHOD { F, FIC, R, RIC, RNNL, RNNLIC };
// The replacement switches.
enum TEMPLATE_CASE { T, TU, TL };

struct RESULT {
  std::string expanding;
  std::string in_place;
  std::uint32_t count_expanding;
  std::uint32_t count_in_place;
};

Matcher compile_for(METHOD method, const std::string& pattern) {
  narrow_buffer p = buf(pattern);
  translate_aliases(p);
  const bool ignore_case = method == RIC || method == RNNLIC;
  const bool newline_sensitive = method == R || method == RIC;
  return compile_matcher(p, {.ignore_case = ignore_case, .newline_sensitive = newline_sensitive});
}

RESULT run(METHOD method, const std::string& pattern, const std::string& templ_text,
           const std::string& input, TEMPLATE_CASE tcase = T) {
  narrow_buffer templ = buf(templ_text);
  const bool regex = method != F && method != FIC;
  if (regex) translate_aliases(templ);
  if (tcase == TU) templ.to_upper();
  if (tcase == TL) templ.to_lower();
  const narrow_buffer text = buf(input);
  narrow_buffer in_place = text, output;
  RESULT result;
  if (method == F || method == FIC) {
    const narrow_buffer find = buf(pattern);
    if (method == F) {
      result.count_in_place = replace_literal(in_place, find, templ, 0, true);
      result.count_expanding = replace_literal_expand(text, output, find, templ, 0);
    } else {
      result.count_in_place = ireplace_literal(in_place, find, templ, 0, true);
      result.count_expanding = ireplace_literal_expand(text, output, find, templ, 0);
    }
  } else {
    const Matcher matcher = compile_for(method, pattern);
    result.count_in_place = replace_regex(in_place, matcher, templ);
    result.count_expanding = replace_regex_expand(text, output, matcher, templ);
  }
  EXPECT_EQ(str(text), input) << "the input of the expanding loop must stay as it was";
  result.expanding = str(output);
  result.in_place = str(in_place);
  return result;
}

struct ROW {
  METHOD method;
  std::string pattern;
  std::string templ;
  std::string input;
  std::string output_expanding;
  std::string output_in_place;
  std::uint32_t count;           // expanding mode
  std::int32_t count_in_place;   // -1: as count
};

void check(const ROW& row, TEMPLATE_CASE tcase = T) {
  const RESULT got = run(row.method, row.pattern, row.templ, row.input, tcase);
  const std::uint32_t in_place =
      row.count_in_place < 0 ? row.count : std::uint32_t(row.count_in_place);
  const std::string what = "pattern [" + row.pattern + "] template [" + row.templ +
                           "] input [" + row.input + "]";
  EXPECT_EQ(got.expanding, row.output_expanding) << what;
  EXPECT_EQ(got.in_place, row.output_in_place) << what;
  EXPECT_EQ(got.count_expanding, row.count) << what;
  EXPECT_EQ(got.count_in_place, in_place) << what;
}

TEST(ReplaceTest, EmptyMatchesAndLineBeginnings) {
  const ROW rows[] = {
      {R, "x*", "-", "ab", "-a-b", "-a-b", 2, -1},
      {RNNL, "x*", "-", "ab", "-a-b", "-a-b", 2, -1},
      // "^" at a resumed search is judged from the input, not from the output.
      {RNNL, "^", "", "abc", "abc", "abc", 1, -1},
      {R, "^#", "", "##x\n", "#x\n", "#x\n", 1, -1},
      {R, "^#", "", "##x\n##y", "#x\n#y", "#x\n#y", 2, -1},
      {RNNL, "^#", "", "##x\n##y", "#x\n##y", "#x\n##y", 1, -1},
      {R, "^.", "", "abc\ndef", "bc\nef", "bc\nef", 2, -1},
      {R, "^a", "", "aaa", "aa", "aa", 1, -1},
      {R, "\n^a", "-", "\na\na", "--", "--", 2, -1},
      {R, "x|^", "-", "x\nx", "-\n-", "-\n-", 2, -1},
      {R, "x|^", "-", "x\ny", "-\n-y", "-\n-y", 2, -1},
      {R, "b|^", "\n", "ab", "\na\n", "\na\n", 2, -1},  // a line feed written is no line start
      {R, "\n", "", "a\n\nb", "ab", "ab", 2, -1},
      {R, "^\n", "", "\n\n\nb", "b", "b", 3, -1},
      {R, "^b", "X", "a\nb", "a\nX", "a\nX", 1, -1},
      {RNNL, "^b", "X", "a\nb", "a\nb", "a\nb", 0, -1},
      {RNNL, "^x", "X", "x\nx", "X\nx", "X\nx", 1, -1},
      {R, "^x", "X", "x\nx", "X\nX", "X\nX", 2, -1},
      {R, "^x", "X", "xx", "Xx", "Xx", 1, -1},
      {R, "x$", "X", "x\nxx", "X\nxX", "X\nxX", 2, -1},
      {RNNL, "x$", "X", "x\nxx", "x\nxX", "x\nxX", 1, -1},
      // Neither a line feed just written nor an emptied output starts a line.
      {R, "a|^b", "\n", "ab", "\nb", "\nb", 1, -1},
      {R, "a|^b", "", "ab", "b", "b", 1, -1},
      {R, "a|^b", "-", "ab", "-b", "-b", 1, -1},
      {RNNL, "a|^b", "", "ab", "b", "b", 1, -1},
      {RNNL, "a|^b", "-", "ab", "-b", "-b", 1, -1},
      {R, "a\n|^b", "", "a\nb", "", "", 2, -1},
      {R, "[^x]", "-", "a\nb", "-\n-", "-\n-", 2, -1},  // newline-sensitive: no line feed
      {RNNL, "[^x]", "-", "a\nb", "---", "---", 3, -1},
      {R, "a.b", "-", "a\nb", "a\nb", "a\nb", 0, -1},
      {RNNL, "a.b", "-", "a\nb", "-", "-", 1, -1},
      {R, "b*", "-", "abb", "-a-", "-a-", 2, -1},
      {R, "x", "y", "", "", "", 0, -1},
  };
  for (const ROW& row : rows) check(row);
}

// Advanced expressions that read the character before a match see the
// input's character there when a search resumes.
TEST(ReplaceTest, WordConstraintsKeepTheirLeftContext) {
  const ROW rows[] = {
      {R, "***:\\mfoo", "X", "foofoo foo", "Xfoo X", "Xfoo X", 2, -1},
      {R, "***:\\y", "|", "ab cd", "|ab| |cd|", "|ab| |cd|", 4, -1},
      {R, "***:\\m", "|", "ab cd", "|ab |cd", "|ab |cd", 2, -1},
      {R, "***:\\M", "|", "ab cd", "ab| cd|", "ab| cd|", 2, -1},
      {R, "***:\\Y", "|", "ab cd", "a|b c|d", "a|b c|d", 2, -1},
      {R, "***:a|\\M-", "X", "a-", "XX", "XX", 2, -1},
      {R, "***:\\Aa", "X", "aaa", "Xaa", "Xaa", 1, -1},
      {R, "***:\\m\\w+?", "X", "ab cd", "Xb Xd", "Xb Xd", 2, -1},    // shortest stays shortest
      {R, "***:\\m(\\w)\\1", "X", "aa aab", "X Xb", "X Xb", 2, -1},   // back-references
      {R, "***:(\\m)|(-)", "<\\1\\2>", "-ab", "<-><>ab", "<-><>ab", 2, -1},
      {R, "***:(?x) \\m foo # a comment", "X", "foofoo foo", "Xfoo X", "Xfoo X", 2, -1},
      {R, "***:(?i)\\mFOO", "X", "foofoo foo", "Xfoo X", "Xfoo X", 2, -1},
      {R, "***:\\mfoo", "X", "foo\nfoo", "X\nX", "X\nX", 2, -1},
      {R, "***:^\\m.", "X", "ab\nab", "Xb\nab", "Xb\nab", 1, -1},  // no newline bits: "^" at 0 only
      {RNNL, "***:(?n)^\\m.", "X", "ab\nab", "Xb\nXb", "Xb\nXb", 2, -1},
  };
  for (const ROW& row : rows) check(row);
}

TEST(ReplaceTest, Templates) {
  const std::string twelve = "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)";
  const ROW rows[] = {
      {R, "abc", "<\\0>", "abc", "<abc>", "<abc>", 1, -1},
      {R, "(a)(b)", "\\2\\1", "ab", "ba", "ba", 1, -1},
      {R, "(a)(b)", "[\\3]", "ab", "[]", "[]", 1, -1},
      {R, "(a)|(b)", "[\\1|\\2]", "ab", "[a|][|b]", "[a|][|b]", 2, -1},
      {R, "a", "\\\\", "a", "\\", "\\", 1, -1},
      {R, "a", "x\\", "a", "x", "x", 1, -1},
      {R, "(a)", "\\\\\\1", "a", "\\a", "\\a", 1, -1},
      {R, "(a)", "\\\\1", "a", "\\1", "\\1", 1, -1},
      {R, "a", "\\x41", "a", "x41", "x41", 1, -1},
      {R, "(a)", "\\12", "a", "a2", "a2", 1, -1},
      {R, twelve, "\\9\\1|\\0", "abcdefghijkl", "ia|abcdefghijkl", "ia|abcdefghijkl", 1, -1},
      {R, "b+", "", "abbcb", "ac", "ac", 2, -1},
      {R, "a", "\\t[:dq:]\\n", "a", "\t\"\n", "\t\"\n", 1, -1},
      {R, "a", "\\w", "a", "w", "w", 1, -1},
      {R, "(.)", "\\0\\0", "ab", "aabb", "aabb", 2, -1},  // inserted text is not searched
      {F, "a", "\\0[:dq:]", "a", "\\0[:dq:]", "\\0[:dq:]", 1, -1},
  };
  for (const ROW& row : rows) check(row);
}

TEST(ReplaceTest, TemplateCaseConversion) {
  check({R, "(b)", "x\\1y", "b", "XbY", "XbY", 1, -1}, TU);
  check({R, "a", "a\\nb", "a", "ANB", "ANB", 1, -1}, TU);
  check({R, "a", "a[:nl:]b", "a", "A\nB", "A\nB", 1, -1}, TU);
  check({R, "(A)", "X\\1Y", "A", "xAy", "xAy", 1, -1}, TL);
  check({F, "a", "b\\n", "a", "B\\N", "B\\N", 1, -1}, TU);
}

TEST(ReplaceTest, PatternTranslationAndDirectors) {
  const ROW rows[] = {
      {R, "\\d+", "#", "a12b3", "a#b#", "a#b#", 2, -1},
      {R, "\\\\d", "#", "\\d\\\\d", "#\\#", "#\\#", 2, -1},
      {R, "[:dq:]\\w+[:dq:]", "'", "\"ab\" \"c\"", "' '", "' '", 2, -1},
      {R, "\\n\\t", "|", "a\n\tb", "a|b", "a|b", 1, -1},
      {R, "[:nl:]", "|", "a\nb", "a|b", "a|b", 1, -1},
      // \< outside the advanced syntax consumes a non-letter; inside it is a
      // zero-width word start.
      {R, "\\<a", "X", "a a", "aX", "aX", 1, -1},
      {R, "***:\\ma", "X", "a a", "X X", "X X", 2, -1},
      // \w stays for the advanced syntax, where it may stand inside brackets.
      {R, "***:[\\w]", "X", "a] b", "X] X", "X] X", 2, -1},
      {R, "[\\w]", "X", "a] b", "X b", "X b", 1, -1},
      {R, "***:\\w+", "X", "a_1 b", "X X", "X X", 2, -1},
      {R, "***=a.b", "X", "a.b axb", "X axb", "X axb", 1, -1},
      {R, "***:^b", "X", "a\nb", "a\nb", "a\nb", 0, -1},    // no newline bits
      {RNNL, "***:(?n)^b", "X", "a\nb", "a\nX", "a\nX", 1, -1},
      {R, "***:(?i)^b", "X", "a\nB", "a\nX", "a\nX", 1, -1},  // default newline bits
      {R, "a(", "X", "a(", "a(", "a(", 0, -1},                // rejected: nothing happens
      {R, "", "X", "abc", "abc", "abc", 0, -1},
  };
  for (const ROW& row : rows) check(row);
}

TEST(ReplaceTest, IgnoreCase) {
  const ROW rows[] = {
      {FIC, "ab", "x", "AbaB", "xx", "xx", 2, -1},
      {FIC, "ABC", "-", "abc aBc ABC", "- - -", "- - -", 3, -1},
      {FIC, "\xC9", "-", "\xE9\xC9", "\xE9-", "\xE9-", 1, -1},
      {RIC, "ab", "x", "AbaB", "xx", "xx", 2, -1},
      {RIC, "\xC9", "-", "\xE9\xC9", "\xE9-", "\xE9-", 1, -1},
      {RIC, "[a-c]+", "-", "xAbCx", "x-x", "x-x", 1, -1},
      {RNNLIC, "^a", "-", "A\na", "-\na", "-\na", 1, -1},
  };
  for (const ROW& row : rows) check(row);
}

TEST(ReplaceTest, HighBytesAreCharactersOfNoClass) {
  const ROW rows[] = {
      {R, "[[:alpha:]]+", "X", "a\xC3\xA9" "b", "X\xC3\xA9X", "X\xC3\xA9X", 2, -1},
      {R, "\\w+", "X", "\xC3\xA9", "\xC3\xA9", "\xC3\xA9", 0, -1},
      {R, "\\W", "X", "\xC3\xA9", "XX", "XX", 2, -1},
      {R, ".", "X", "\xC3\xA9", "XX", "XX", 2, -1},
      {R, "[^a]", "X", "\xC3\xA9", "XX", "XX", 2, -1},
      {RIC, "[^a]", "X", "\xC3\xA9" "A", "XXA", "XXA", 2, -1},
      {R, "[\x80-\x9F]", "X", "\x85\xA0\x9F", "X\xA0X", "X\xA0X", 2, -1},
      {RIC, "[\x80-\x9F]", "X", "\x85\xA0\x9F", "X\xA0X", "X\xA0X", 2, -1},
      {R, "(\xE9+)", "<\\1>", "a\xE9\xE9", "a<\xE9\xE9>", "a<\xE9\xE9>", 1, -1},      {R, "a.b", "X", std::string("a\0b\0", 4), std::string("X\0", 2),
       std::string("X\0", 2), 1, -1},  // NUL is an ordinary byte
  };
  for (const ROW& row : rows) check(row);
}

TEST(ReplaceTest, MendedClasses) {
  const ROW rows[] = {
      {RIC, "[[:lower:]]", "X", "aB5", "XX5", "XX5", 2, -1},
      {RIC, "[[:upper:]]", "X", "aB5", "XX5", "XX5", 2, -1},
      {RIC, "\\l", "X", "aB5", "XX5", "XX5", 2, -1},
      {RIC, "\\L", "X", "aB5", "aBX", "aBX", 1, -1},
      {R, "[[:lower:]]", "X", "aB5", "XB5", "XB5", 1, -1},
      {R, "[[:upper:]]", "X", "aB5", "aX5", "aX5", 1, -1},
      {R, "[[:punct:]]", "X", "$+<=>^`|~!a1 ", "XXXXXXXXXXa1 ", "XXXXXXXXXXa1 ", 10, -1},
      {R, "[^[:punct:]]", "X", "$+<=>^`|~!a1 ", "$+<=>^`|~!XXX", "$+<=>^`|~!XXX", 3, -1},
      {R, "***=[[:punct:]]", "X", "$[[:punct:]]", "$X", "$X", 1, -1},
      // Outside brackets "[:punct:]" is a set of the letters ":punct".
      {R, "\\[[:punct:]]", "X", "[$] [t]", "[$] X", "[$] X", 1, -1},
  };
  for (const ROW& row : rows) check(row);
}

TEST(ReplaceTest, ExpandingOutputReservation) {
  const Matcher m = compile_for(R, "q");
  narrow_buffer out;
  replace_regex_expand(narrow_buffer(std::string(100, 'a').c_str()), out, m, "x");
  EXPECT_GE(out.capacity(), 118u);
  EXPECT_EQ(out.length(), 100u);
}

TEST(ReplaceTest, InPlaceEditsOnlyItsOwnCopy) {
  const Matcher m = compile_for(R, "o");
  narrow_buffer original("foo");
  narrow_buffer text = original;
  EXPECT_EQ(replace_regex(text, m, "0"), 2u);
  EXPECT_EQ(str(text), "f00");
  EXPECT_EQ(str(original), "foo");
  narrow_buffer view = narrow_buffer::literal("foo");
  EXPECT_EQ(replace_regex(view, m, "0"), 2u);
  EXPECT_EQ(str(view), "f00");
}

}  // namespace
}  // namespace Velk
