// The PCRE2 fast path: which patterns it takes (and by which rule it refuses
// the others), what it writes for PCRE2, and that every search it makes
// reports what the Tcl engine reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/pcre2_matcher.h"
#include "engine/pcre2_pattern.h"
#include "engine/regex_engine.h"

namespace Velk {
namespace {

narrow_buffer buf(const std::string& s) { return narrow_buffer(s.data(), std::uint32_t(s.size())); }

constexpr std::uint32_t R = REGEX_EXTENDED | REGEX_NEWLINE;     // -r
constexpr std::uint32_t RIC = R | REGEX_NOCASE;                 // -ric
constexpr std::uint32_t RNNL = REGEX_EXTENDED;                  // -rnnl
constexpr std::uint32_t RNNLIC = REGEX_EXTENDED | REGEX_NOCASE;  // -rnnlic
constexpr std::uint32_t all_modes[] = {R, RIC, RNNL, RNNLIC};

// Each counterexample that breaks agreement between the engines, and the
// rules that keep it with Tcl (every rule it breaks).
TEST(Pcre2PatternTest, RejectedPatternsNameTheirRule) {
  struct {
    const char* name;
    const char* pattern;
    std::uint32_t flags;
    std::uint32_t rejections;
  } rows[] = {
      // On "ab" Tcl gives \1 = "", a backtracking engine "b".
      {"empty body under +", "(a|b?)+", R, FAST_PATH_EMPTY_PARSES | FAST_PATH_REPEATED_GROUP},
      {"two empty alternatives", "(a?|b?)", R,
       FAST_PATH_EMPTY_PARSES | FAST_PATH_EMPTY_NOT_LAST},
      {"empty body under {m,n}", "x(a?){2,3}", R,
       FAST_PATH_EMPTY_PARSES | FAST_PATH_NONDETERMINISTIC},
      // Deterministic, yet on "aa" Tcl gives \1 = "a", PCRE2 "aa".
      {"not in star normal form", "(a+)+", R, FAST_PATH_STAR_FORM | FAST_PATH_REPEATED_GROUP},
      // On "ab" Tcl reports \2 unset, PCRE2 keeps "a" of the first iteration.
      {"group skipped by an iteration", "((a)|b)*", R,
       FAST_PATH_SKIPPED_GROUP | FAST_PATH_REPEATED_GROUP},
      {"group skipped by a counted iteration", "((a)|b){2}", R, FAST_PATH_SKIPPED_GROUP},
      {"optional group in a counted iteration", "(x(y)?){1,2}", R, FAST_PATH_SKIPPED_GROUP},
      // On "colored" PCRE2 stops at "color".
      {"empty alternative first", "colou?r(s?|ed)", R, FAST_PATH_EMPTY_NOT_LAST},
      {"empty branch first", "(|a)", RNNL, FAST_PATH_EMPTY_NOT_LAST},
      // Quadratic in PCRE2-JIT on long runs, linear in Tcl.
      {"repeated group before a literal", "(a)+X", R, FAST_PATH_REPEATED_GROUP},
      {"repeated alternation", "(a|b)*c", R, FAST_PATH_REPEATED_GROUP},
      {"group repeated from a count", "(ab){2,}", R, FAST_PATH_REPEATED_GROUP},
      {"repeated group", "(ab)+", R, FAST_PATH_REPEATED_GROUP},
      {"repeated empty-matching group", "(a?)+", R,
       FAST_PATH_EMPTY_PARSES | FAST_PATH_REPEATED_GROUP},
      // A choice the greedy search would make wrongly.
      {"alternatives that share a first byte", "(a|ab)(c|bcd)", R, FAST_PATH_NONDETERMINISTIC},
      {"star then the same byte", "a*a", R, FAST_PATH_NONDETERMINISTIC},
      {"nested optional counts", "[0-9]?[0-9]", RNNL, FAST_PATH_NONDETERMINISTIC},
      {"letters by case under ignore case", "[a-z]*X", RIC, FAST_PATH_NONDETERMINISTIC},
      {"back-reference", "(a)\\1", R, FAST_PATH_BACK_REFERENCE},
      {"zero repetition", "ab{0}c", R, FAST_PATH_ZERO_REPEAT},
      {"zero to zero", "ab{0,0}c", R, FAST_PATH_ZERO_REPEAT},
      {"unrolled beyond the bound", "(abcdefghijk){100}", R, FAST_PATH_TOO_LARGE},
      {"advanced director", "***:a+", R, FAST_PATH_MODE},
      {"literal director", "***=a+", R, FAST_PATH_MODE},
      {"basic syntax", "a+", REGEX_NEWLINE, FAST_PATH_MODE},
      {"one newline bit", "a+", REGEX_EXTENDED | REGEX_NLSTOP, FAST_PATH_MODE},
      {"empty pattern", "", R, FAST_PATH_MODE},
      {"pattern Tcl rejects", "a(", R, FAST_PATH_SYNTAX},
      {"escaped letter", "\\q", R, FAST_PATH_SYNTAX},
      {"brace without a count", "a{,2}", R, FAST_PATH_SYNTAX},
      {"collating element", "[[.a.]]", R, FAST_PATH_SYNTAX},
      {"anchor inside a group", "(^a)", R, FAST_PATH_SYNTAX},
      {"anchor inside the pattern", "a$b", R, FAST_PATH_SYNTAX},
      {"anchor on one branch", "^a|b", R, FAST_PATH_SYNTAX},
      {"unmatched closing parenthesis", "a)", R, FAST_PATH_SYNTAX},
  };
  for (const auto& row : rows) {
    const PCRE2_TRANSLATION t = translate_for_pcre2(buf(row.pattern), row.flags);
    EXPECT_EQ(t.rejections, row.rejections) << row.name << ": " << row.pattern;
    EXPECT_EQ(pcre2_matcher::try_compile(buf(row.pattern), row.flags), nullptr) << row.name;
  }
}

// What PCRE2 is given: every atom an explicit byte set, S{m,} as S{m}S*.
TEST(Pcre2PatternTest, AcceptedPatternsAndTheirPcre2Form) {
  struct {
    const char* pattern;
    std::uint32_t flags;
    const char* pcre2;
  } rows[] = {
      {"[0-9]+", R, "[\\x{30}-\\x{39}]+"},
      {"(alpha|beta) ([a-z]+)", R,
       "(\\x{61}\\x{6c}\\x{70}\\x{68}\\x{61}|\\x{62}\\x{65}\\x{74}\\x{61})\\x{20}"
       "([\\x{61}-\\x{7a}]+)"},
      {"^(ERROR|WARN)", R,
       "^(\\x{45}\\x{52}\\x{52}\\x{4f}\\x{52}|\\x{57}\\x{41}\\x{52}\\x{4e})"},
      {"(error|warn|lorem|dolor)", RIC,
       "([\\x{45}\\x{65}][\\x{52}\\x{72}][\\x{52}\\x{72}][\\x{4f}\\x{6f}][\\x{52}\\x{72}]|"
       "[\\x{57}\\x{77}][\\x{41}\\x{61}][\\x{52}\\x{72}][\\x{4e}\\x{6e}]|"
       "[\\x{4c}\\x{6c}][\\x{4f}\\x{6f}][\\x{52}\\x{72}][\\x{45}\\x{65}][\\x{4d}\\x{6d}]|"
       "[\\x{44}\\x{64}][\\x{4f}\\x{6f}][\\x{4c}\\x{6c}][\\x{4f}\\x{6f}][\\x{52}\\x{72}])"},
      {"([a-z]+) ([0-9]{1,3})\\.([0-9]{2})", R,
       "([\\x{61}-\\x{7a}]+)\\x{20}([\\x{30}-\\x{39}]{1,3})\\x{2e}([\\x{30}-\\x{39}]{2})"},
      {"[a-z]{2,}X", R, "[\\x{61}-\\x{7a}]{2}[\\x{61}-\\x{7a}]*\\x{58}"},
      {"colou?r(ed|s?)$", R,
       "\\x{63}\\x{6f}\\x{6c}\\x{6f}\\x{75}?\\x{72}(\\x{65}\\x{64}|\\x{73}?)$"},
      {"a.b", R, "\\x{61}[\\x{00}-\\x{09}\\x{0b}-\\x{ff}]\\x{62}"},
      {"a.b", RNNL, "\\x{61}[\\x{00}-\\x{ff}]\\x{62}"},
      {"[^a]", R, "[\\x{00}-\\x{09}\\x{0b}-\\x{60}\\x{62}-\\x{ff}]"},
      {"(x|)", R, "(\\x{78}|)"},
      {"([a-z]{1,3}[0-9]){2}", R, "([\\x{61}-\\x{7a}]{1,3}[\\x{30}-\\x{39}]){2}"},
      // Classes as the Tcl path repairs them: [:punct:] has the C library's
      // members, [:upper:] under ignore case is every letter.
      {"[[:punct:]]", R,
       "[\\x{21}-\\x{2f}\\x{3a}-\\x{40}\\x{5b}-\\x{60}\\x{7b}-\\x{7e}]"},
      {"[[:upper:]]", RIC, "[\\x{41}-\\x{5a}\\x{61}-\\x{7a}]"},
      {"[]a]\\]", R, "[\\x{5d}\\x{61}]\\x{5d}"},
      {"([a-z]+)=([0-9]{1,3})", R, "([\\x{61}-\\x{7a}]+)\\x{3d}([\\x{30}-\\x{39}]{1,3})"},
      {"(ab){2,3}", RNNL, "(\\x{61}\\x{62}){2,3}"},
  };
  for (const auto& row : rows) {
    const PCRE2_TRANSLATION t = translate_for_pcre2(buf(row.pattern), row.flags);
    EXPECT_EQ(t.rejections, 0u) << row.pattern;
    EXPECT_EQ(t.pattern, row.pcre2) << row.pattern;
    EXPECT_NE(pcre2_matcher::try_compile(buf(row.pattern), row.flags), nullptr) << row.pattern;
  }
}

// Under ignore case a range into the bytes 0x80-0xFF takes in the case
// partners of the characters the Tcl engine maps those bytes to: only asking
// Tcl about every byte gets such a set right.
TEST(Pcre2PatternTest, ByteSetsComeFromTheTclEngine) {
  const std::string pattern = "x[~-\xFF]";
  const auto fast = pcre2_matcher::try_compile(buf(pattern), RIC);
  ASSERT_NE(fast, nullptr);
  regex_handle* tcl = compile_regex(buf(pattern), RIC);
  ASSERT_NE(tcl, nullptr);
  std::string members;
  for (unsigned b = 0; b < 256; ++b) {
    const std::string text = std::string("x") + char(b);
    regex_subject subject(buf(text));
    REGEX_RANGE range[1];
    const bool by_tcl = exec_regex(tcl, subject, 0, 0, 1, range) == regex_status::match;
    MatchSpan spans[1];
    const bool by_pcre2 = fast->find(text.data(), 2, 0, false, 1, spans) == regex_status::match;
    EXPECT_EQ(by_tcl, by_pcre2) << "byte " << b;
    if (by_tcl) members += char(b);
  }
  free_regex(tcl);
  for (char c : std::string("SIik")) EXPECT_NE(members.find(c), std::string::npos) << c;
  for (char c : std::string("sK")) EXPECT_EQ(members.find(c), std::string::npos) << c;
}

// --- the same searches on both engines ----------------------------------------

struct SEARCH {
  regex_status status;
  std::vector<MatchSpan> spans;
};

bool operator==(const SEARCH& a, const SEARCH& b) {
  if (a.status != b.status) return false;
  if (a.status != regex_status::match) return true;
  for (std::size_t k = 0; k < a.spans.size(); ++k)
    if (a.spans[k].start != b.spans[k].start || a.spans[k].length != b.spans[k].length)
      return false;
  return true;
}

std::string show(const SEARCH& s) {
  if (s.status == regex_status::no_match) return "no match";
  if (s.status == regex_status::error) return "error";
  std::string out;
  for (const MatchSpan& span : s.spans)
    out += "(" + std::to_string(span.start) + "," + std::to_string(span.length) + ")";
  return out;
}

// A Tcl search as find_next makes it: the subject from start, with "not at
// line beginning" from the byte before start (start > 0) or from notbol.
SEARCH tcl_search(const regex_handle* tcl, regex_subject& subject, const std::string& text,
                  std::uint32_t start, bool notbol, bool newline, std::uint32_t wanted) {
  if (start > 0) notbol = !(newline && text[start - 1] == '\n');
  REGEX_RANGE ranges[REGEX_MAX_RANGES];
  SEARCH s{exec_regex(tcl, subject, start, notbol ? REGEX_NOTBOL : 0, wanted, ranges), {}};
  if (s.status == regex_status::match)
    for (std::uint32_t k = 0; k < wanted; ++k)
      s.spans.push_back(ranges[k].start < 0
                            ? MatchSpan{start, 0}
                            : MatchSpan{start + std::uint32_t(ranges[k].start),
                                        std::uint32_t(ranges[k].end - ranges[k].start)});
  return s;
}

SEARCH pcre2_search(const pcre2_matcher& fast, const std::string& text, std::uint32_t start,
                    bool notbol, std::uint32_t wanted) {
  SEARCH s{regex_status::error, std::vector<MatchSpan>(wanted)};
  s.status = fast.find(text.data(), text.size(), start, notbol, wanted, s.spans.data());
  return s;
}

// Every start position, with and without notbol: the same status and spans.
void expect_same_searches(const std::string& pattern, std::uint32_t flags,
                          const std::vector<std::string>& texts) {
  const auto fast = pcre2_matcher::try_compile(buf(pattern), flags);
  ASSERT_NE(fast, nullptr) << pattern << " flags " << flags;
  regex_handle* tcl = compile_regex(buf(pattern), flags);
  ASSERT_NE(tcl, nullptr);
  ASSERT_EQ(fast->group_count(), regex_group_count(tcl));
  const std::uint32_t wanted = std::min(fast->group_count() + 1, REGEX_MAX_RANGES);
  const bool newline = (flags & REGEX_NEWLINE) != 0;
  for (const std::string& text : texts) {
    regex_subject subject(buf(text));
    for (std::uint32_t start = 0; start < text.size(); ++start)
      for (bool notbol : {false, true}) {
        const SEARCH a = tcl_search(tcl, subject, text, start, notbol, newline, wanted);
        const SEARCH b = pcre2_search(*fast, text, start, notbol, wanted);
        EXPECT_TRUE(a == b) << pattern << " flags " << flags << " on \"" << text << "\" from "
                            << start << (notbol ? " notbol" : "") << ": Tcl " << show(a)
                            << ", PCRE2 " << show(b);
      }
  }
  free_regex(tcl);
}

const std::vector<std::string> sample_texts = {
    "alpha beta gamma 12 345 6789",
    "ERROR one\nWARN two\nerror three\nINFO four\n\nWARNING\n",
    "lorem ipsum dolor sit amet, Error: warn; LOREM DOLOR",
    "item 42.50 price 7.05 total 1234.567 x 12.3",
    "colour colours colored color\ncolors",
    "aaa\nbbb\n\nab\xE9\xC9\x80\xFF\n",
    std::string("nul\0byte 9\n", 11),
    "\n\n",
};

TEST(Pcre2MatcherTest, SearchesAgreeWithTclInAllModes) {
  const char* patterns[] = {
      "[0-9]+",
      "(alpha|beta) ([a-z]+)",
      "^(ERROR|WARN)",
      "(error|warn|lorem|dolor)",
      "([a-z]+) ([0-9]{1,3})\\.([0-9]{2})",
      "[a-z]{2,}",
      "colou?r(ed|s?)$",
      "^",
      "$",
      "^$",
      "x*",
      ".",
      "[^a-z]+$",
      "(o)(l)|(r)",
      "([A-Z])([a-z]*)",
      "[[:alpha:]_][[:alnum:]_]*",
      "(a|b?)",
      "\xE9|\xC9",
      "(ab|c){2,3}",
      "([a-z]{1,3}[0-9]){2}",
      "o(l|r){1,2}",
  };
  for (const char* pattern : patterns)
    for (std::uint32_t flags : all_modes) expect_same_searches(pattern, flags, sample_texts);
}

// Groups that took no part and groups beyond the match data's ten pairs.
TEST(Pcre2MatcherTest, UnsetAndLateGroups) {
  const auto fast = pcre2_matcher::try_compile(buf("(a)|(b)"), R);
  ASSERT_NE(fast, nullptr);
  MatchSpan spans[3];
  ASSERT_EQ(fast->find("xxb", 3, 1, false, 3, spans), regex_status::match);
  EXPECT_EQ(spans[0].start, 2u);
  EXPECT_EQ(spans[1].start, 1u);  // unset: the search start, length 0
  EXPECT_EQ(spans[1].length, 0u);
  EXPECT_EQ(spans[2].start, 2u);
  EXPECT_EQ(spans[2].length, 1u);
  // Entries beyond the groups are left as they are.
  MatchSpan more[REGEX_MAX_RANGES];
  for (MatchSpan& span : more) span = {77, 77};
  ASSERT_EQ(fast->find("xxb", 3, 0, false, REGEX_MAX_RANGES, more), regex_status::match);
  EXPECT_EQ(more[2].start, 2u);
  EXPECT_EQ(more[3].start, 77u);
  EXPECT_EQ(more[9].length, 77u);
  expect_same_searches("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)|(z)", R,
                       {"abcdefghijklz", "zabcdefghijkl"});
}

TEST(Pcre2MatcherTest, ConcurrentSearchesOnOneObject) {
  const auto fast = pcre2_matcher::try_compile(buf("([a-z]+) ([0-9]+)"), R);
  ASSERT_NE(fast, nullptr);
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "word " + std::to_string(i) + " ";
  auto count = [&](std::uint32_t& found) {
    MatchSpan spans[3];
    std::size_t at = 0;
    while (fast->find(text.data(), text.size(), at, false, 3, spans) == regex_status::match) {
      ++found;
      at = spans[0].start + spans[0].length;
    }
  };
  std::uint32_t counts[4] = {};
  std::vector<std::thread> threads;
  for (auto& c : counts) threads.emplace_back(count, std::ref(c));
  for (auto& t : threads) t.join();
  for (std::uint32_t c : counts) EXPECT_EQ(c, 2000u);
}

}  // namespace
}  // namespace Velk
