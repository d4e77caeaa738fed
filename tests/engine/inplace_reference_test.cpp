// The in-place loops rewrite their text in one front-to-back pass. These
// tests pin that pass to the straightforward loop it replaces: replace one
// match at a time in the edited text and search again behind the
// replacement, each search in the original text so that "^" is judged from
// the input. Empty matches, anchors and growing and shrinking replacements
// are all in the mix.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/compile_matcher.h"
#include "engine/expand_template.h"
#include "engine/find_next.h"
#include "engine/replace_all.h"
#include "engine/translate.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer buf(const std::string& s) { return narrow_buffer(s.data(), std::uint32_t(s.size())); }

std::uint32_t reference_regex(narrow_buffer& text, const Matcher& matcher, narrow_buffer templ) {
  translate_escapes(templ, '\\', control_escape_table(), false, true);
  const narrow_buffer original = text.substr(0);
  SpanList spans;
  std::uint32_t count = 0;
  std::int64_t shift = 0;
  bool found = find_next(original, spans, matcher, 0, {.derive_bol = true});
  while (found) {
    const narrow_buffer e = expand_template(templ, original, spans);
    const MatchSpan m = spans[0];
    text.replace(std::uint32_t(m.start + shift), m.length, e);
    shift += std::int64_t(e.length()) - m.length;
    ++count;
    const std::uint32_t next = m.start + m.length + (m.length == 0 ? 1 : 0);
    found = find_next(original, spans, matcher, next, {.derive_bol = true});
  }
  return count;
}

std::uint32_t reference_literal(narrow_buffer& text, const narrow_buffer& find,
                                const narrow_buffer& replacement, bool fold) {
  std::uint32_t count = 0;
  auto search = [&](std::uint32_t from) { return fold ? text.ifind(find, from) : text.find(find, from); };
  for (std::uint32_t pos = search(0); pos != narrow_buffer::npos;) {
    text.replace(pos, find.length(), replacement);
    ++count;
    const std::uint32_t next = pos + replacement.length();
    if (next >= text.length()) break;
    pos = search(next);
  }
  return count;
}

TEST(InplaceReferenceTest, RegexLoopMatchesTheOneAtATimeLoop) {
  static const char* const patterns[] = {
      "x*", "^", "$", "^b", "b$", "a|", "(^|b)", "\\n", "a*", "(a)(b)?", "[^a]", "b*$",
      "^a*", "(a|\\n)", ".", "a+", "\\w*", "(b)|(a)", "***:(?n)^a*", "***:a*",
      "$|a", "^\\n*",
      // Patterns with a literal start, which the loops skip ahead to.
      "ab", "a\n", "b(a)", "ab*", "ba+", "aab", "a b", "b\\na", "ba?b", "a[b\n]"};
  static const char* const templates[] = {"", "-", "X\\0Y", "\\1\\1", "\\n", "[:nl:]", "zzz",
                                          "\\2x\\1"};
  std::mt19937 random(7);
  for (const char* pattern : patterns) {
    for (bool nl : {true, false}) {
      const Matcher matcher = compile_matcher(narrow_buffer(pattern), {.newline_sensitive = nl});
      ASSERT_FALSE(matcher.empty()) << pattern;
      for (int round = 0; round < 40; ++round) {
        std::string text;
        for (int i = int(random() % 14); i > 0; --i) text.push_back("ab\n"[random() % 3]);
        narrow_buffer templ(templates[random() % 8]);
        translate_aliases(templ);
        narrow_buffer expected = buf(text), actual = buf(text);
        const std::uint32_t want = reference_regex(expected, matcher, templ);
        const std::uint64_t got = replace_regex(actual, matcher, templ);
        EXPECT_EQ(got, want) << pattern << " nl=" << nl << " text=" << text;
        EXPECT_EQ(str(actual), str(expected)) << pattern << " nl=" << nl << " text=" << text;
        EXPECT_EQ(actual.c_str()[actual.length()], '\0');
      }
    }
  }
}

std::uint32_t reference_expand(const narrow_buffer& text, narrow_buffer& out, const Matcher& matcher,
                               narrow_buffer templ) {
  translate_escapes(templ, '\\', control_escape_table(), false, true);
  out.clear();
  SpanList spans;
  std::uint32_t count = 0, copied = 0;
  bool found = find_next(text, spans, matcher, 0, {.derive_bol = true});
  while (found) {
    const MatchSpan m = spans[0];
    out.append(text, copied, m.start - copied);
    out.append(expand_template(templ, text, spans));
    copied = m.start + m.length;
    ++count;
    found = find_next(text, spans, matcher, copied + (m.length == 0 ? 1 : 0), {.derive_bol = true});
  }
  out.append(text, copied, narrow_buffer::npos);
  return count;
}

TEST(InplaceReferenceTest, ExpandingLoopMatchesAPlainSearchLoop) {
  static const char* const patterns[] = {"ab", "a\n", "b(a)", "ab*", "ba+", "a b", "x*", "^b", "a|b",
                                         "a|^b", "^", "^a*", "b|^", "\n^a"};
  std::mt19937 random(3);
  for (const char* pattern : patterns) {
    for (bool nl : {true, false}) {
      const Matcher matcher = compile_matcher(narrow_buffer(pattern), {.newline_sensitive = nl});
      ASSERT_FALSE(matcher.empty()) << pattern;
      for (int round = 0; round < 40; ++round) {
        std::string text;
        for (int i = int(random() % 30); i > 0; --i) text.push_back("ab \n"[random() % 4]);
        narrow_buffer want_out, got_out;
        const std::uint32_t want = reference_expand(buf(text), want_out, matcher, narrow_buffer("<\\0>"));
        const std::uint32_t got =
            replace_regex_expand(buf(text), got_out, matcher, narrow_buffer("<\\0>"));
        EXPECT_EQ(got, want) << pattern << " text=" << text;
        EXPECT_EQ(str(got_out), str(want_out)) << pattern << " text=" << text;
      }
    }
  }
}

TEST(InplaceReferenceTest, LiteralLoopsMatchTheOneAtATimeLoop) {
  static const char* const finds[] = {"a", "aa", "ab", "Ab", "aba"};
  static const char* const replacements[] = {"", "b", "aa", "xyzxyz", "a"};
  std::mt19937 random(11);
  for (const char* find : finds) {
    for (const char* replacement : replacements) {
      for (bool fold : {false, true}) {
        for (int round = 0; round < 30; ++round) {
          std::string text;
          for (int i = int(random() % 40); i > 0; --i) text.push_back("aAbB"[random() % 4]);
          narrow_buffer expected = buf(text), actual = buf(text);
          const std::uint32_t want =
              reference_literal(expected, narrow_buffer(find), narrow_buffer(replacement), fold);
          const std::uint32_t got =
              fold ? ireplace_literal(actual, narrow_buffer(find), narrow_buffer(replacement), 0, true)
                   : replace_literal(actual, narrow_buffer(find), narrow_buffer(replacement), 0, true);
          EXPECT_EQ(got, want) << find << "->" << replacement << " in " << text;
          EXPECT_EQ(str(actual), str(expected)) << find << "->" << replacement << " in " << text;
        }
      }
    }
  }
}

TEST(InplaceReferenceTest, ASharedTextIsLeftAlone) {
  narrow_buffer original("a-a-a");
  narrow_buffer copy = original;
  EXPECT_EQ(replace_literal(copy, narrow_buffer("a"), narrow_buffer("bbb"), 0, true), 3u);
  EXPECT_EQ(str(copy), "bbb-bbb-bbb");
  EXPECT_EQ(str(original), "a-a-a");
  const Matcher matcher = compile_matcher(narrow_buffer("-"), {});
  narrow_buffer again = original;
  EXPECT_EQ(replace_regex(again, matcher, narrow_buffer("<\\0>")), 2u);
  EXPECT_EQ(str(again), "a<->a<->a");
  EXPECT_EQ(str(original), "a-a-a");
}

}  // namespace
}  // namespace Velk
