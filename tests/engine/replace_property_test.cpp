// Property: for patterns that cannot match empty text, the in-place and the
// expanding regular-expression loops give the same text and count.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/compile_matcher.h"
#include "engine/replace_all.h"

namespace Velk {
namespace {

class generator {
 public:
  explicit generator(unsigned seed) : random_(seed) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  template <std::size_t N>
  const char* pick(const char* const (&items)[N]) { return items[below(int(N))]; }

  // An atom that always consumes at least one character.
  std::string atom(int depth) {
    static const char* const atoms[] = {"a", "b", "A", "\n", ".", "[ab]", "[^a]", "\\w",
                                        "\\s", "\xE9", "[[:lower:]]", "[[:punct:]]", "-"};
    if (depth < 2 && below(5) == 0) return "(" + branch(depth + 1) + ")";
    return pick(atoms);
  }
  // A sequence with at least one atom that must occur.
  std::string branch(int depth) {
    static const char* const must[] = {"", "+", "{1,2}"};
    static const char* const may[] = {"*", "?", "{0,2}"};
    std::string text;
    const int atoms = 1 + below(3);
    const int required = below(atoms);
    for (int i = 0; i < atoms; ++i) text += atom(depth) + (i == required ? pick(must) : pick(may));
    if (below(6) == 0) text = "^" + text;
    if (below(6) == 0) text += "$";
    return text;
  }
  std::string pattern() {
    std::string text = branch(0);
    if (below(3) == 0) text += "|" + branch(0);
    return text;
  }
  std::string text(int length, const char* alphabet) {
    std::string out;
    const int n = int(std::char_traits<char>::length(alphabet));
    for (int i = 0; i < length; ++i) out.push_back(alphabet[below(n)]);
    return out;
  }
  std::string templ() {
    static const char* const parts[] = {"x", "\\0", "\\1", "\\2", "\\n", "", "\\\\", "-",
                                        "[:nl:]", "aa", "\\9"};
    std::string out;
    for (int i = below(4); i > 0; --i) out += pick(parts);
    return out;
  }

 private:
  std::mt19937 random_;
};

TEST(ReplacePropertyTest, InPlaceAndExpandingAgreeWithoutEmptyMatches) {
  generator gen(20261208);
  int compiled = 0, changed = 0;
  for (int round = 0; round < 800; ++round) {
    const std::string pattern = gen.pattern();
    const bool ignore_case = gen.below(2) == 0;
    const bool newline_sensitive = gen.below(2) == 0;
    const Matcher m =
        compile_matcher(narrow_buffer(pattern.c_str()),
                        {.ignore_case = ignore_case, .newline_sensitive = newline_sensitive});
    if (m.empty()) continue;
    ++compiled;
    const narrow_buffer templ(gen.templ().c_str());
    for (int t = 0; t < 4; ++t) {
      const std::string input = gen.text(gen.below(40), "aAb\n-\xE9 ");
      const narrow_buffer text(input.data(), std::uint32_t(input.size()));
      narrow_buffer in_place = text, output;
      const std::uint64_t n1 = replace_regex(in_place, m, templ);
      const std::uint64_t n2 = replace_regex_expand(text, output, m, templ);
      ASSERT_EQ(n1, n2) << "pattern " << pattern << " input " << input;
      ASSERT_EQ(std::string(in_place.c_str(), in_place.length()),
                std::string(output.c_str(), output.length()))
          << "pattern " << pattern << " template " << templ.c_str() << " input " << input;
      if (n1) ++changed;
    }
  }
  EXPECT_GT(compiled, 500);  // the generator mostly makes valid patterns
  EXPECT_GT(changed, 600);   // and they mostly match something
}

}  // namespace
}  // namespace Velk
