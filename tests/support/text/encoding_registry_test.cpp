#include <gtest/gtest.h>

#include <string>

#include "support/core/exceptions.h"
#include "support/text/text_conv.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& text) {
  return std::string(text.c_str(), text.length());
}

TEST(EncToCP, NamesAndCodePageForms) {
  const struct {
    std::string name;
    std::int32_t code_page;
  } cases[] = {
      {"koi8-r", 20866},       {"KOI8-R", 20866},
      {"Koi8-R", 20866},       {"KOI8", 20866},
      {"cp1252", 1252},        {"CP1252", 1252},
      {"Cp437", 437},          {"CP", 0},
      {"CPxyz", 0},            {"cp 936", 936},
      {"CP\t\n\v\r 12abc", 12}, {std::string("CP\0\0" "65001", 9), 65001},
      {"CP+7", 7},             {"CP-7", -7},
      {"CP+-7", 0},            {"CP 7 8", 7},
      {"CP99999999999", 2147483647},
      {"CP-99999999999", -2147483647 - 1},
      {"CP2147483647", 2147483647},
      {"CP-2147483648", -2147483647 - 1},
      {"UTF-8", 65001},        {"utf-8", 65001},
      {"C", 20127},            {"c", 20127},
      {"HZ", 52936},           {"ansi_X3.4-1968", 20127},
      {"big5-hkscs:2004", 950}, {"OEM-MultlingualLatinI+EuroSymbol", 858},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TTextConv::EncToCP(narrow_buffer(c.name.data(),
                                               std::uint32_t(c.name.size()))),
              c.code_page)
        << c.name;
}

TEST(EncToCP, UnknownNameThrowsWithTheNameAsPassed) {
  for (const char* name : {"Latin 1", "", "K", "UTF-8 ", "Latin I - ANSI"}) {
    try {
      TTextConv::EncToCP(narrow_buffer(name));
      ADD_FAILURE() << "no exception for " << name;
    } catch (const tconvExp& e) {
      EXPECT_EQ(e.GetCode(), 1);
      EXPECT_EQ(str(e.GetMessage()),
                std::string("TTextConv::EncToCP - can't convert the encoding to codepage\n"
                            "  corresponding mapping doesn't exist\n"
                            "  encoding name = ") + name);
    }
  }
}

TEST(CPToEnc, FirstNameInCaseInsensitiveOrder) {
  const struct {
    std::int32_t code_page;
    const char* name;
  } cases[] = {
      {28594, "ISO-8859-10"}, {65001, "UTF-8"},   {1252, "ANSI-LatinI"},
      {12345, "CP12345"},     {437, "ASCII"},     {850, "OEM-LatinI"},
      {874, "ANSI-Thai"},     {949, "KSC"},       {950, "BIG5"},
      {1200, "UCS-2"},        {1201, "UCS-2BE"},  {1254, "ANSI-Turkish"},
      {1258, "TCVN"},         {10029, "MacCentralEurope"},
      {20127, "ANSI_x3.4-1968"}, {20866, "KOI8"}, {28591, "ISO-8859-1"},
      {50227, "ISO-2022-CN"}, {0, "CP0"},         {-1, "CP4294967295"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(str(TTextConv::CPToEnc(c.code_page)), c.name) << c.code_page;
}

TEST(Registry, EveryCodePageRoundTrips) {
  const std::int32_t code_pages[] = {
      20127, 437,   28591, 28592, 28593, 28594, 28595, 28597, 28599, 28603,
      28605, 20866, 21866, 1250,  1251,  1252,  1253,  1254,  1257,  10000,
      10029, 10079, 10082, 10010, 10007, 10017, 10006, 10081, 850,   866,
      737,   775,   852,   855,   857,   858,   860,   861,   863,   865,
      869,   28596, 28598, 1255,  1256,  862,   864,   10005, 10004, 51936,
      936,   20936, 54936, 52936, 50227, 51950, 950,   51949, 50225, 1361,
      949,   51932, 932,   50220, 50221, 50222, 1258,  874,   10021, 65000,
      65001, 1200,  1201};
  for (std::int32_t code_page : code_pages) {
    const narrow_buffer name = TTextConv::CPToEnc(code_page);
    EXPECT_NE(str(name).rfind("CP", 0), 0u) << code_page << " has no name";
    EXPECT_EQ(TTextConv::EncToCP(name), code_page) << str(name);
  }
}

}  // namespace
}  // namespace Velk
