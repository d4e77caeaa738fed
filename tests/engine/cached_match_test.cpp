#include "engine/cached_match.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/core/thread.h"

namespace Velk {
namespace {

// Every test leaves the calling thread without records.
class CachedMatch : public ::testing::Test {
 protected:
  void SetUp() override { release_both(); }
  void TearDown() override { release_both(); }
  static void release_both() {
    release_cached_match<char>();
    release_cached_match<char16_t>();
  }

  // A narrow search with the usual defaults: extended, translated, line
  // beginning derived.
  bool find(const char* subject, const char* pattern, std::uint32_t start = 0,
            bool ignore_case = false, bool newline_sensitive = false, bool translate = true,
            std::uint32_t skip = 0) {
    return cached_match(narrow_buffer(subject), spans, start, narrow_buffer(pattern),
                        {.ignore_case = ignore_case,
                         .newline_sensitive = newline_sensitive,
                         .translate_escapes = translate},
                        {.skip = skip, .derive_bol = true});
  }
  std::uint64_t compiled_since(std::uint64_t before) const {
    return cached_match_compilations() - before;
  }

  SpanList spans;
};

TEST_F(CachedMatch, ReportsTheMatchAndItsGroups) {
  ASSERT_TRUE(find("abc 123 def", "([a-z]+) (\\d+)"));
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(spans[0].start, 0u);
  EXPECT_EQ(spans[0].length, 7u);
  EXPECT_EQ(spans[2].start, 4u);
  EXPECT_EQ(spans[2].length, 3u);

  ASSERT_TRUE(find("a1b2c3", "\\d", 0, false, false, true, 1));  // skip one match
  EXPECT_EQ(spans[0].start, 3u);
  ASSERT_TRUE(find("a1b2c3", "\\d", 4));
  EXPECT_EQ(spans[0].start, 5u);
  EXPECT_FALSE(find("abc", "x"));

  // Skip counts distinct matches, also past an empty match at the end.
  ASSERT_TRUE(find("ab", "x*$"));
  EXPECT_EQ(spans[0].start, 2u);
  EXPECT_FALSE(find("ab", "x*$", 0, false, false, true, 1));
  ASSERT_TRUE(find("ab", "x*", 0, false, false, true, 1));
  EXPECT_EQ(spans[0].start, 1u);
  EXPECT_FALSE(find("ab", "x*", 0, false, false, true, 2));
  const wide_buffer wide(u"ab");
  EXPECT_FALSE(cached_match(wide, spans, 0, wide_buffer(u"x*$"), {.newline_sensitive = false},
                            {.skip = 1, .derive_bol = true}));
}

TEST_F(CachedMatch, LeftContextComesFromTheSubject) {
  ASSERT_TRUE(find("ab\nb", "^b", 1, false, true));  // derived: after "a" no line start
  EXPECT_EQ(spans[0].start, 3u);
  EXPECT_FALSE(find("foofoo", "***:\\mfoo", 3));   // "foo" at 3 follows a letter
  ASSERT_TRUE(find("foo foo", "***:\\mfoo", 1));
  EXPECT_EQ(spans[0].start, 4u);
}

TEST_F(CachedMatch, CompilesOnlyWhenPatternFlagsOrTranslationChange) {
  struct step {
    const char* pattern;
    bool ignore_case, newline_sensitive, translate;
    std::uint64_t compiles;
  };
  const step steps[] = {
      {"b+", false, false, true, 1},  // first use
      {"b+", false, false, true, 0},  // same again
      {"b+", true, false, true, 1},   // ignore case switched on
      {"b+", true, false, true, 0},
      {"b+", true, true, true, 1},    // newline sensitivity
      {"b+", true, true, false, 1},   // translate flag
      {"c+", true, true, false, 1},   // pattern
      {"b+", true, true, false, 1},   // and back: only the last one is kept
  };
  for (const step& s : steps) {
    const std::uint64_t before = cached_match_compilations();
    find("abbc", s.pattern, 0, s.ignore_case, s.newline_sensitive, s.translate);
    EXPECT_EQ(compiled_since(before), s.compiles) << s.pattern;
  }
  // "***" switches translation off, so the translate argument changes nothing.
  find("abc", "***:b", 0, false, false, true);
  const std::uint64_t before = cached_match_compilations();
  find("abc", "***:b", 0, false, false, false);
  EXPECT_EQ(compiled_since(before), 0u);
}

TEST_F(CachedMatch, StartAtTheEndLeavesTheCacheAlone) {
  const std::int64_t records = cached_match_live_records();
  const std::uint64_t before = cached_match_compilations();
  EXPECT_FALSE(find("abc", "c", 3));
  EXPECT_FALSE(find("abc", "c", 7));
  EXPECT_EQ(cached_match_live_records(), records);
  EXPECT_EQ(compiled_since(before), 0u);
}

TEST_F(CachedMatch, ReleaseMakesTheNextCallCompileAfresh) {
  const std::int64_t records = cached_match_live_records();
  find("abc", "b");
  EXPECT_EQ(cached_match_live_records(), records + 1);
  release_cached_match<char>();
  EXPECT_EQ(cached_match_live_records(), records);
  const std::uint64_t before = cached_match_compilations();
  EXPECT_TRUE(find("abc", "b"));
  EXPECT_EQ(compiled_since(before), 1u);
  // The empty pattern is the same release.
  EXPECT_FALSE(find("abc", ""));
  EXPECT_EQ(cached_match_live_records(), records);
}

TEST_F(CachedMatch, ARejectedPatternIsTriedAgainNextTime) {
  const std::uint64_t before = cached_match_compilations();
  EXPECT_FALSE(find("a(b", "a("));
  EXPECT_FALSE(find("a(b", "a("));
  EXPECT_EQ(compiled_since(before), 2u);
  EXPECT_TRUE(find("a(b", "a\\("));
}

TEST_F(CachedMatch, LineBeginningFollowsThePatternsNewlineSensitivity) {
  // start 3 follows a line feed: a line beginning only when newline-sensitive.
  EXPECT_TRUE(find("ab\ncd", "^c", 3, false, true));
  EXPECT_FALSE(find("ab\ncd", "^c", 3, false, false));
  // The embedded option decides, though the compile flags keep the argument.
  EXPECT_TRUE(find("ab\ncd", "***:(?n)^c", 3, false, false));
  EXPECT_FALSE(find("ab\ncd", "***:^c", 3, false, true));
}

TEST_F(CachedMatch, WideFormHasItsOwnRecord) {
  const std::int64_t records = cached_match_live_records();
  const wide_buffer subject(u"x\u4e2d7y");
  ASSERT_TRUE(cached_match(subject, spans, 0, wide_buffer(u"\u4e2d\\d"),
                           {.newline_sensitive = false}, {.derive_bol = true}));
  EXPECT_EQ(spans[0].start, 1u);
  EXPECT_EQ(spans[0].length, 2u);
  find("abc", "b");
  EXPECT_EQ(cached_match_live_records(), records + 2);
  release_cached_match<char16_t>();
  EXPECT_EQ(cached_match_live_records(), records + 1);
  const std::uint64_t before = cached_match_compilations();
  EXPECT_TRUE(find("abc", "b"));  // narrow record untouched
  EXPECT_EQ(compiled_since(before), 0u);
}

// Each library thread compiles into its own record and releases it when it
// ends.
class Searcher : public TThread {
 public:
  std::uint32_t Run() override {
    SpanList spans;
    std::uint32_t found = 0;
    for (int i = 0; i < 200; ++i) {
      found += cached_match(narrow_buffer("one two three"), spans, 0, narrow_buffer("t\\w+"),
                            {.newline_sensitive = false}, {.derive_bol = true});
      found += cached_match(wide_buffer(u"one two"), spans, 0, wide_buffer(u"o$"),
                            {.newline_sensitive = false}, {.derive_bol = true});
    }
    return found;
  }
};

TEST_F(CachedMatch, LibraryThreadsLeaveNothingBehind) {
  const std::int64_t records = cached_match_live_records();
  const std::uint64_t before = cached_match_compilations();
  std::vector<std::unique_ptr<Searcher>> threads;
  for (int i = 0; i < 4; ++i) {
    threads.push_back(std::make_unique<Searcher>());
    threads.back()->Create();
  }
  for (auto& t : threads) t->Resume();
  for (auto& t : threads) {
    EXPECT_TRUE(t->Wait(-1));
    EXPECT_EQ(t->GetExitCode(), 400u);
  }
  EXPECT_EQ(compiled_since(before), 8u);  // one per thread and form
  EXPECT_EQ(cached_match_live_records(), records);
}

}  // namespace
}  // namespace Velk
