// compile_matcher's choice of engine, and that the choice never changes a
// result: the loops over the fast path give what the Tcl engine alone gives,
// in both memory modes, also where the in-place loop has overwritten the
// byte before a resumed search.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/compile_matcher.h"
#include "engine/replace_all.h"
#include "engine/tcl_matcher.h"
#include "engine/translate.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer buf(const std::string& s) { return narrow_buffer(s.data(), std::uint32_t(s.size())); }

// The engine of the finds the fast path takes, on POSIX and Windows alike;
// only a build configured with RPLC_WITH_PCRE2 off runs every find on Tcl.
#if RPLC_WITH_PCRE2
const char* const fast_engine = "pcre2";
#else
const char* const fast_engine = "tcl";
#endif

const char* engine_of(const Matcher& m) { return m.empty() ? "none" : m.engine()->engine_name(); }

// The same find on the Tcl engine alone, prepared as compile_matcher does.
Matcher tcl_only(const std::string& pattern, bool ignore_case, bool newline_sensitive) {
  narrow_buffer p = buf(pattern);
  translate_escapes(p, '\\', class_escape_table(), false, true);
  const std::uint32_t flags = (newline_sensitive ? REGEX_NEWLINE : 0) |
                              (ignore_case ? REGEX_NOCASE : 0) | REGEX_EXTENDED;
  std::unique_ptr<TRegexMatcher> engine = CTclMatcher::compile(p, flags, newline_sensitive);
  if (!engine) return Matcher();
  return Matcher(make_shared_ref<MATCHER_RECORD>(std::move(engine), flags));
}

TEST(EngineChoiceTest, ExtendedFindsTakeTheFastPathOnlyWhereItAgrees) {
  const struct {
    const char* pattern;
    const char* engine;
  } rows[] = {
      {"[0-9]+", fast_engine},
      {"(alpha|beta) ([a-z]+)", fast_engine},
      {"^(ERROR|WARN)", fast_engine},
      {"\\d+-\\d+", fast_engine},
      {"***:[0-9]+", "tcl"},   // a director: always Tcl
      {"***=a.b", "tcl"},
      {"(a)\\1", "tcl"},       // back-reference
      {"(a+)+", "tcl"},        // not in star normal form
      {"(a|b?)+", "tcl"},      // an iteration over a body that can match empty
      {"a(", "none"},
  };
  for (const auto& row : rows) {
    for (bool ignore_case : {false, true}) {
      for (bool newline_sensitive : {true, false}) {
        const Matcher m = compile_matcher(
            row.pattern, {.ignore_case = ignore_case, .newline_sensitive = newline_sensitive});
        EXPECT_STREQ(engine_of(m), row.engine) << row.pattern << " ic=" << ignore_case
                                               << " nl=" << newline_sensitive;
      }
    }
  }
}

TEST(EngineChoiceTest, LoopsGiveTheTclResultOnTheFastPath) {
  static const char* const patterns[] = {"^#", "^[a-c]", "[0-9]+", "(a|b)c", "c$", "^",
                                         "#|^a", "\\n^#", "[^#]+", "a(b)?c", "x*"};
  static const char* const templates[] = {"", "-", "<\\0>", "\\1\\1", "\\n", "##"};
  std::mt19937 random(17);
  int on_fast_path = 0;
  for (const char* pattern : patterns) {
    for (bool ignore_case : {false, true}) {
      for (bool nl : {true, false}) {
        const Matcher fast =
            compile_matcher(pattern, {.ignore_case = ignore_case, .newline_sensitive = nl});
        const Matcher tcl = tcl_only(pattern, ignore_case, nl);
        ASSERT_FALSE(tcl.empty()) << pattern;
        on_fast_path += std::string(engine_of(fast)) == fast_engine;
        for (int round = 0; round < 30; ++round) {
          std::string text;
          for (int i = int(random() % 24); i > 0; --i) text.push_back("#abC0\n"[random() % 6]);
          const narrow_buffer templ(templates[random() % 6]);
          const std::string what = std::string(pattern) + " [" + text + "] ic=" +
                                   std::to_string(ignore_case) + " nl=" + std::to_string(nl);
          narrow_buffer want = buf(text), got = buf(text), want_out, got_out;
          const std::uint64_t n_want = replace_regex(want, tcl, templ);
          const std::uint64_t n_got = replace_regex(got, fast, templ);
          EXPECT_EQ(n_got, n_want) << what;
          EXPECT_EQ(str(got), str(want)) << what;
          EXPECT_EQ(replace_regex_expand(buf(text), got_out, fast, templ), n_want) << what;
          EXPECT_EQ(str(got_out), str(want)) << what;
          replace_regex_expand(buf(text), want_out, tcl, templ, {.notbol = true});
          replace_regex_expand(buf(text), got_out, fast, templ, {.notbol = true});
          EXPECT_EQ(str(got_out), str(want_out)) << what << " notbol";
        }
      }
    }
  }
  EXPECT_GE(on_fast_path, 36);  // of 44: the comparison is with the fast path
}

}  // namespace
}  // namespace Velk
