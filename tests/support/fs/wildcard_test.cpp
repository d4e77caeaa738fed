#include "support/fs/wildcard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace Velk {
namespace {

struct WildcardCase {
  const char* pattern;
  const char* name;
  bool matches;
};

TEST(WildcardTest, Table) {
  const WildcardCase cases[] = {
      {"*", "", true},
      {"*", "a.txt", true},
      {"*.txt", "a.txt", true},
      {"*.txt", ".txt", true},
      {"*.txt", "a.txt.bak", false},
      {"*.txt", "a.TXT", false},  // case-sensitive
      {"?", "", false},
      {"?", "a", true},
      {"?", "ab", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"*a*a*a*", "aaa", true},
      {"*a*a*a*", "aa", false},
      {"**", "x", true},
      {"[ab]", "a", false},  // brackets are literal
      {"[ab]", "[ab]", true},
      {"a\\b", "a\\b", true},  // backslash is literal
      {"*.", "x.", true},
      {"x", "xx", false},
      {"", "", true},
      {"", "a", false},
      {"*ab", "aab", true},
      {"*ab", "abab", true},
      {"*ab", "aba", false},
  };
  for (const WildcardCase& c : cases)
    EXPECT_EQ(MatchWildcard(c.pattern, std::uint32_t(std::strlen(c.pattern)), c.name,
                            std::uint32_t(std::strlen(c.name))),
              c.matches)
        << '"' << c.pattern << "\" vs \"" << c.name << '"';
}

TEST(WildcardTest, ManyStarsStayFast) {
  const std::string name(4000, 'a');
  const std::string pattern = "*a*a*a*a*a*a*a*a*a*a*b";
  EXPECT_FALSE(MatchWildcard(pattern.c_str(), std::uint32_t(pattern.size()), name.c_str(),
                             std::uint32_t(name.size())));
}

}  // namespace
}  // namespace Velk
