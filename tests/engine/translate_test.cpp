#include "engine/translate.h"

#include <gtest/gtest.h>

#include <string>

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }

std::string escapes(const char* text, const escape_table& table, bool drop = false,
                    bool keep = true) {
  narrow_buffer b(text);
  translate_escapes(b, '\\', table, drop, keep);
  return str(b);
}

TEST(TranslateTest, TablesHaveTheirRowsAndTerminator) {
  EXPECT_EQ(class_escape_table().size(), 28u);
  EXPECT_EQ(control_escape_table().size(), 8u);
  EXPECT_TRUE(class_escape_table().back().key.empty());
  EXPECT_TRUE(class_escape_table().back().replacement.empty());
  ASSERT_EQ(wide_class_escape_table().size(), class_escape_table().size());
  for (std::size_t i = 0; i < class_escape_table().size(); ++i) {
    const auto& narrow = class_escape_table()[i];
    const auto& wide = wide_class_escape_table()[i];
    ASSERT_EQ(narrow.replacement.length(), wide.replacement.length()) << i;
    for (std::uint32_t k = 0; k < narrow.replacement.length(); ++k)
      EXPECT_EQ(char16_t(narrow.replacement[k]), wide.replacement[k]);
  }
  EXPECT_EQ(wide_control_escape_table().size(), 8u);
  EXPECT_EQ(alias_table().size(), 6u);
}

TEST(TranslateTest, ClassEscapes) {
  const escape_table& t = class_escape_table();
  struct {
    const char* in;
    const char* out;
  } rows[] = {
      {"\\d+", "[[:digit:]]+"},
      {"\\w", "[[:alnum:]_]"},
      {"\\W\\A\\L\\U\\S\\D\\X\\P", "[^[:alnum:]_][^[:alpha:]][^[:lower:]][^[:upper:]]"
                                   "[^[:space:]][^[:digit:]][^[:xdigit:]][^[:print:]]"},
      {"\\a\\l\\u\\s\\x\\p", "[[:alpha:]][[:lower:]][[:upper:]][[:space:]][[:xdigit:]][[:print:]]"},
      {"\\o\\O", "[0-7][^0-7]"},
      {"\\<x\\>", "[^[:alpha:]_]x[^[:alnum:]_]"},
      {"\\\\d", "\\\\d"},        // doubled backslash kept, d not translated
      {"\\\\\\d", "\\\\[[:digit:]]"},
      {"\\q", "\\q"},            // no row: left as it is
      {"\\N", "\\N"},            // keys are case-sensitive
      {"ab\\", "ab\\"},          // trailing single backslash kept
      {"\\n\\t", "\n\t"},
      {"\\r\\b\\v\\\"\\'", "\r\b\v\"'"},
      {"[\\d]", "[[[:digit:]]]"},  // inside brackets too: nested brackets
      {"", ""},
      {"\\\\", "\\\\"},
  };
  for (const auto& row : rows) EXPECT_EQ(escapes(row.in, t), row.out) << row.in;
}

TEST(TranslateTest, ControlEscapesLeaveClassesAlone) {
  EXPECT_EQ(escapes("\\t", control_escape_table()), "\t");
  EXPECT_EQ(escapes("\\w\\1\\N", control_escape_table()), "\\w\\1\\N");
}

TEST(TranslateTest, DropUnlistedAndReduceDoubled) {
  const escape_table& t = control_escape_table();
  EXPECT_EQ(escapes("a\\qb", t, true, true), "aqb");
  EXPECT_EQ(escapes("a\\", t, true, true), "a");
  EXPECT_EQ(escapes("\\\\n", t, false, false), "\\n");  // one removed, n not translated
  EXPECT_EQ(escapes("\\\\", t, false, false), "\\");
  EXPECT_EQ(escapes("\\q\\n", t, true, false), "q\n");
}

TEST(TranslateTest, InsertedTextIsNotTranslatedAgain) {
  // A replacement that itself holds the escape character.
  escape_table t = {{narrow_buffer::literal("\\n"), narrow_buffer::literal("x")}, {}};
  EXPECT_EQ(escapes("\\x\\x", t), "\\n\\n");
}

TEST(TranslateTest, WideEscapes) {
  wide_buffer b(u"\\d\\\\w\\n");
  translate_escapes(b, u'\\', wide_class_escape_table(), false, true);
  EXPECT_TRUE(b == wide_buffer(u"[[:digit:]]\\\\w\n"));
}

TEST(TranslateTest, Aliases) {
  narrow_buffer b("[:dq:][:sq:][:nl:][:rt:][:tb:][:bs:] [:xx:] [:dq:]");
  translate_aliases(b);
  EXPECT_EQ(str(b), "\"'\n\r\t\b [:xx:] \"");
  narrow_buffer view = narrow_buffer::literal("a[:nl:]b");
  translate_aliases(view);  // a view is made private before it is edited
  EXPECT_EQ(str(view), "a\nb");
}

}  // namespace
}  // namespace Velk
