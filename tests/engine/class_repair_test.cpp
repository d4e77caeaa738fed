#include "engine/class_repair.h"

#include <gtest/gtest.h>

#include <string>

namespace Velk {
namespace {

std::string repaired(const char* pattern, bool ignore_case) {
  narrow_buffer b(pattern);
  repair_class_names(b, ignore_case);
  return std::string(b.c_str(), b.length());
}

TEST(ClassRepairTest, RewritesOnlyClassNamesInBrackets) {
  struct {
    const char* in;
    bool ignore_case;
    const char* out;
  } rows[] = {
      {"[[:lower:]]", true, "[[:alpha:]]"},
      {"[^[:upper:]x]", true, "[^[:alpha:]x]"},
      {"[[:lower:]]", false, "[[:lower:]]"},
      {"[[:punct:]]", false, "[$+<=>`|~^[:punct:]]"},
      {"[^[:punct:]]", false, "[^$+<=>`|~^[:punct:]]"},
      {"[a[:punct:]b]", false, "[a$+<=>`|~^[:punct:]b]"},
      {"[-[:punct:]]", false, "[-$+<=>`|~^[:punct:]]"},       // leading "-" is literal
      {"[a-[:punct:]]", false, "[a-[:punct:]]"},              // a range to a class stays an error
      {"[[:alpha:][:punct:]]", false, "[[:alpha:]$+<=>`|~^[:punct:]]"},
      {"[[.-.][:lower:]]", true, "[[.-.][:alpha:]]"},
      {"[]x[:lower:]]", true, "[]x[:alpha:]]"},              // a leading "]" is literal
      {"[:punct:]", false, "[:punct:]"},                      // a set of the letters
      {"\\[[:lower:]]", true, "\\[[:lower:]]"},
      {"x[[:lower:]]\\[[[:punct:]]", true, "x[[:alpha:]]\\[[$+<=>`|~^[:punct:]]"},
      {"[[:lowerx:]]", true, "[[:lowerx:]]"},
      {"[[:lower:]", true, "[[:alpha:]"},                     // unbalanced: the engine reports it
      {"[[:lower", true, "[[:lower"},
      {"***=[[:punct:]]", false, "***=[[:punct:]]"},
      {"***:(?q)[[:punct:]]", false, "***:(?q)[[:punct:]]"},
      {"***:(?i)[[:lower:]]", false, "***:(?i)[[:alpha:]]"},
      {"***:(?c)[[:lower:]]", true, "***:(?c)[[:lower:]]"},
      {"***:[\\][:lower:]]", true, "***:[\\][:alpha:]]"},     // escapes inside advanced brackets
      {"[\\][:lower:]]", true, "[\\][:lower:]]"},             // not in extended ones
      {"", true, ""},
  };
  for (const auto& row : rows) EXPECT_EQ(repaired(row.in, row.ignore_case), row.out) << row.in;
}

TEST(ClassRepairTest, WideForm) {
  wide_buffer b(u"[[:punct:][:upper:]]");
  repair_class_names(b, true);
  EXPECT_TRUE(b == wide_buffer(u"[$+<=>`|~^[:punct:][:alpha:]]"));
}

}  // namespace
}  // namespace Velk
