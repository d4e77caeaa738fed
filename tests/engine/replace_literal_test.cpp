#include <gtest/gtest.h>

#include <string>

#include "engine/replace_all.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }

struct LITERAL_CASE {
  bool ignore_case;
  const char* find;
  const char* replacement;
  std::string input;
  std::string output;
  std::uint32_t count;
};

// Each row runs through both memory modes, which must agree for literals.
TEST(ReplaceLiteralTest, BothModes) {
  const LITERAL_CASE rows[] = {
      {false, "aa", "b", "aaa", "ba", 1},
      {false, "a", "aa", "aa", "aaaa", 2},
      {true, "ab", "x", "AbaB", "xx", 2},
      {true, "ABC", "-", "abc aBc ABC", "- - -", 3},
      {true, "\xC9", "x", "\xE9\xC9", "\xE9x", 1},  // high bytes compare exactly
      {false, "x", "y", "abc", "abc", 0},
      {false, "a", "", "banana", "bnn", 3},
      {false, "\\0", "[:dq:]", "a\\0b", "a[:dq:]b", 1},  // no template, no alias
      {false, "ab", "ab", "abab", "abab", 2},
      {false, "na", "NA", "banana", "baNANA", 2},
      {false, "a", "b", "", "", 0},
      {true, "A", "a", "aAbB", "aabB", 2},
  };
  for (const LITERAL_CASE& row : rows) {
    const narrow_buffer find(row.find), repl(row.replacement);
    const narrow_buffer input(row.input.data(), std::uint32_t(row.input.size()));
    narrow_buffer in_place = input;
    const std::uint64_t n1 = row.ignore_case ? ireplace_literal(in_place, find, repl, 0, true)
                                             : replace_literal(in_place, find, repl, 0, true);
    narrow_buffer output;
    const std::uint64_t n2 = row.ignore_case
                                 ? ireplace_literal_expand(input, output, find, repl, 0)
                                 : replace_literal_expand(input, output, find, repl, 0);
    EXPECT_EQ(str(in_place), row.output) << row.find << " in " << row.input;
    EXPECT_EQ(str(output), row.output) << row.find << " in " << row.input;
    EXPECT_EQ(n1, row.count) << row.find << " in " << row.input;
    EXPECT_EQ(n2, row.count) << row.find << " in " << row.input;
    EXPECT_EQ(str(input), row.input) << "the expanding loop must not touch its input";
  }
}

TEST(ReplaceLiteralTest, EmptyFindAndNulBytes) {
  narrow_buffer text("abc"), out;
  EXPECT_EQ(replace_literal(text, "", "x", 0, true), 0u);
  EXPECT_EQ(replace_literal_expand(text, out, "", "x", 0), 0u);
  EXPECT_EQ(str(out), "abc");
  const narrow_buffer nul("\0", 1), binary("a\0b\0", 4);
  text = binary;
  EXPECT_EQ(replace_literal(text, nul, "z", 0, true), 2u);
  EXPECT_EQ(str(text), "azbz");
  EXPECT_EQ(ireplace_literal_expand(binary, out, nul, "z", 0), 2u);
  EXPECT_EQ(str(out), "azbz");
}

TEST(ReplaceLiteralTest, StartAndSingleReplacement) {
  narrow_buffer text("aXaXa");
  EXPECT_EQ(replace_literal(text, "a", "b", 1, true), 2u);
  EXPECT_EQ(str(text), "aXbXb");
  text = "aaa";
  EXPECT_EQ(replace_literal(text, "a", "b", 0, false), 1u);
  EXPECT_EQ(str(text), "baa");
  text = "abc";
  EXPECT_EQ(replace_literal(text, "c", "d", 3, true), 0u);  // start at the end
  narrow_buffer out;
  EXPECT_EQ(replace_literal_expand("abcabc", out, "abc", "x", 1), 1u);
  EXPECT_EQ(str(out), "abcx");
  EXPECT_EQ(replace_literal_expand("abc", out, "b", "x", 3), 0u);
  EXPECT_EQ(str(out), "abc");
}

TEST(ReplaceLiteralTest, InPlaceEditOfSharedTextLeavesTheOtherHolderAlone) {
  narrow_buffer original("one two one");
  narrow_buffer text = original;
  EXPECT_EQ(replace_literal(text, "one", "1", 0, true), 2u);
  EXPECT_EQ(str(text), "1 two 1");
  EXPECT_EQ(str(original), "one two one");
  narrow_buffer view = narrow_buffer::literal("one");
  EXPECT_EQ(replace_literal(view, "o", "0", 0, true), 1u);
  EXPECT_EQ(str(view), "0ne");
}

TEST(ReplaceLiteralTest, ExpandingOutputIsReservedFromTheEstimate) {
  narrow_buffer out;
  replace_literal_expand("aaaaaaaaaa", out, "a", "b", 0);
  EXPECT_GE(out.capacity(), 11u);
  const narrow_buffer big(std::string(700, 'a').c_str());
  replace_literal_expand(big, out, "a", std::string(70, 'b').c_str(), 0);
  EXPECT_EQ(out.length(), 700u * 70u);
}

TEST(ReplaceLiteralTest, EstimateOutputSize) {
  EXPECT_EQ(estimate_output_size(100, 3, 3), 100u);
  EXPECT_EQ(estimate_output_size(100, 5, 1), 100u);
  EXPECT_EQ(estimate_output_size(700, 1, 70), 1400u);  // 70 times longer: twice the input
  EXPECT_EQ(estimate_output_size(100, 2, 3), 102u);    // 100 + 100*1.5/70 = 102.14
  EXPECT_EQ(estimate_output_size(0, 1, 9), 0u);
  EXPECT_EQ(estimate_output_size(0xF0000000u, 1, 1000), narrow_buffer::max_size);
}

}  // namespace
}  // namespace Velk
