#include "support/fs/ignore_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace Velk {
namespace {

// Cases in the manner of git's own wildmatch tests (t3070), with paths.
TEST(IgnoreRulesTest, GlobsMatchAsGitsWildmatch) {
  const struct {
    const char* glob;
    const char* text;
    bool matches;
  } cases[] = {
      {"foo", "foo", true},           {"foo", "fo", false},
      {"*", "foo", true},             {"*", "foo/bar", false},
      {"*", "", true},                {"f*", "foo", true},
      {"*/*", "foo/bar", true},       {"*/foo", "a/b/foo", false},
      {"*/", "a/", true},             {"???", "foo", true},
      {"?", "/", false},              {"a?b", "a/b", false},
      {"**", "foo/bar/baz", true},    {"**/foo", "foo", true},
      {"**/foo", "x/y/foo", true},    {"**/foo", "x/yfoo", false},
      {"foo/**", "foo/a/b", true},    {"foo/**", "foo", false},
      {"foo/**", "foo/", true},       {"a/**/b", "a/b", true},
      {"a/**/b", "a/x/y/b", true},    {"a/**/b", "a/xb", false},
      {"a/**b", "a/x/b", false},      {"a**/b", "ax/b", true},   // "**" inside a component is "*"
      {"a**/b", "a/x/b", false},      {"**/*.c", "x/y/z.c", true},
      {"[abc]", "b", true},           {"[abc]", "d", false},
      {"[!abc]", "b", false},         {"[^abc]", "d", true},
      {"[a-c]x", "bx", true},         {"[a-c]x", "dx", false},
      {"[]]", "]", true},             {"[!]]", "a", true},
      {"[]-a]", "-", false},           {"[a-]", "-", true},
      {"[[:digit:]]", "5", true},     {"[[:digit:]]", "a", false},
      {"[[:alpha:][:digit:]]", "z", true},
      {"[[:upper:]]", "a", false},    {"[[:space:]]", "\t", true},
      {"[[:nosuch:]]", "a", false},   {"[[:digit]", "[", true},
      {"[[:digit]", "t", true},       {"a[/]b", "a/b", false},
      {"[", "[", false},              {"[a", "a", false},
      {"\\*", "*", true},             {"\\*", "x", false},
      {"\\[ab]", "[ab]", true},       {"*.o", "x.o", true},
      {"*.o", "x.o/y", false},        {"#hash", "#hash", true},
      {"\\#hash", "#hash", true},     {"\\!x", "!x", true},
      {"foo*bar", "foo/bar", false},  {"foo*bar", "foobazbar", true},
      {"*a*a*a*", "aXaYa", true},     {"-*-*-*-*-*-*-12-*-*-*-m-*-*-*", "-adobe-courier-bold-o-normal--12-120-75-75-m-70-iso8859-1", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchIgnoreGlob(c.glob, c.text), c.matches) << c.glob << " ~ " << c.text;
}

TEST(IgnoreRulesTest, LinesParseAsGitReadsThem) {
  const std::vector<IGNORE_PATTERN> got = ParseIgnoreFile(narrow_buffer(
      "\xEF\xBB\xBF" "first\n"
      "# a comment\n"
      "\n"
      "   \n"
      "trail  \n"
      "kept\\ \n"
      "odd\\\\  \n"
      "!neg\n"
      "\\!bang\n"
      "dir/\n"
      "/root\n"
      "a/b\n"
      "!/x/\n"
      "/\n"
      "//\n"
      "last"));
  const struct {
    const char* glob;
    bool negated, folder_only, anchored;
  } expected[] = {
      {"first", false, false, false},  {"trail", false, false, false},
      {"kept\\ ", false, false, false}, {"odd\\\\", false, false, false},
      {"neg", true, false, false},     {"\\!bang", false, false, false},
      {"dir", false, true, false},     {"root", false, false, true},
      {"a/b", false, false, true},     {"x", true, true, true},
      {"last", false, false, false},
  };
  ASSERT_EQ(got.size(), std::size(expected));
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_STREQ(got[i].glob.c_str(), expected[i].glob) << i;
    EXPECT_EQ(got[i].negated, expected[i].negated) << i;
    EXPECT_EQ(got[i].folder_only, expected[i].folder_only) << i;
    EXPECT_EQ(got[i].anchored, expected[i].anchored) << i;
  }
}

TEST(IgnoreRulesTest, NamesOrPathsAndFoldersOnly) {
  const std::vector<IGNORE_PATTERN> p =
      ParseIgnoreFile(narrow_buffer("build/\n*.o\ndoc/*.html\n"));
  ASSERT_EQ(p.size(), 3u);
  EXPECT_TRUE(MatchesIgnorePattern(p[0], "src/build", "build", true));
  EXPECT_FALSE(MatchesIgnorePattern(p[0], "src/build", "build", false));
  EXPECT_TRUE(MatchesIgnorePattern(p[1], "a/b/x.o", "x.o", false));
  EXPECT_TRUE(MatchesIgnorePattern(p[2], "doc/a.html", "a.html", false));
  EXPECT_FALSE(MatchesIgnorePattern(p[2], "src/doc/a.html", "a.html", false));
  EXPECT_FALSE(MatchesIgnorePattern(p[2], "doc/sub/a.html", "a.html", false));
}

}  // namespace
}  // namespace Velk
