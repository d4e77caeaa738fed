#include <gtest/gtest.h>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/os/codepage.h"
#include "support/text/os_text_conv.h"
#include "tests/support/text/conv_test_util.h"

namespace Velk {
namespace {

using namespace test;

struct round_trip {
  const char* what;
  std::int32_t code_page;
  std::string bytes;
  std::u16string text;
};

const round_trip kRoundTrips[] = {
    {"Latin-1", 28591, kLatin1Bytes, kLatin1Text},
    {"Windows Latin", 1252, kLatin1Bytes + "\x80", kLatin1Text + u"\u20AC"},
    {"UTF-8", 65001, kUtf8Bytes, kUtf8Text},
    {"GBK", 936, kGbkBytes, kGbkText},
    {"GB18030 beyond the BMP", 54936, "\x90\x30\x81\x30", u"\U00010000"},
    {"embedded NUL", 65001, std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
};

TEST(OSTextConv, RoundTripsOnPosix) {
  for (const round_trip& c : kRoundTrips) {
    COSTextConv conv(c.code_page);
    EXPECT_EQ(str(conv.MBtoWC(narrow(c.bytes))), c.text) << c.what;
    EXPECT_EQ(str(conv.WCtoMB(wide(c.text))), c.bytes) << c.what;
  }
}

TEST(OSTextConv, BuiltFromAnEncodingName) {
  EXPECT_EQ(COSTextConv(narrow("ANSI-LatinI")).GetCodePage(), 1252);
  EXPECT_EQ(COSTextConv(narrow("cp936")).GetCodePage(), 936);
  EXPECT_THROW(COSTextConv(narrow("Latin 1")), tconvExp);
  COSTextConv conv(1252);
  std::unique_ptr<TTextConv> made(conv.Create(narrow("GBK")));
  EXPECT_EQ(dynamic_cast<COSTextConv&>(*made).GetCodePage(), 936);
  made.reset(conv.Clone());
  EXPECT_EQ(dynamic_cast<COSTextConv&>(*made).GetCodePage(), 1252);
}

TEST(OSTextConv, InvalidInputIsReplacedAsWindowsDoesOnPosix) {
  COSTextConv utf8(65001);
  EXPECT_EQ(str(utf8.MBtoWC(narrow("a\xFF" "b"))), u"a\uFFFD" u"b");
  EXPECT_EQ(str(utf8.MBtoWC(narrow("ab\xE4\xB8"))), u"ab\uFFFD");
  COSTextConv latin(1252);
  EXPECT_EQ(str(latin.WCtoMB(wide(u"a\u4E2D\U0001F600b"))), "a??b");
  EXPECT_EQ(str(utf8.WCtoMB(wide(u"a\xD800" u"b"))), "a?b");
}

TEST(OSTextConv, EmptyInputGivesEmptyOutput) {
  // Code page 1 does not exist, so any call to the system would fail.
  COSTextConv conv(1);
  wide_buffer w = wide(u"old");
  conv.MBtoWC(w, narrow_buffer());
  EXPECT_TRUE(w.empty());
  narrow_buffer n = narrow("old");
  conv.WCtoMB(n, wide_buffer());
  EXPECT_TRUE(n.empty());
}

TEST(OSTextConv, UnknownCodePageThrowsAndTheConverterStaysUsable) {
  const std::string os_lines =
      "  sys err num  = " + std::to_string(os::invalid_parameter_error()) +
      "\n  sys err desc = " + str(GetSysErrorDesc(os::invalid_parameter_error()));
  COSTextConv conv(12345);
  try {
    conv.MBtoWC(narrow("abc"));
    ADD_FAILURE() << "converted through code page 12345";
  } catch (const ostxtconvExp& e) {
    EXPECT_EQ(e.GetCode(), 4);
    EXPECT_EQ(str(e.GetMessage()),
              "COSTextConv::MBtoWC - failed converting multibyte string to unicode one\n"
              "  code page    = 12345\n" + os_lines);
  }
  try {
    conv.WCtoMB(wide(u"abc"));
    ADD_FAILURE() << "converted through code page 12345";
  } catch (const ostxtconvExp& e) {
    EXPECT_EQ(e.GetCode(), 4);
    EXPECT_EQ(str(e.GetMessage()),
              "COSTextConv::WCtoMB - failed converting unicode string to multibyte one\n"
              "  code page    = 12345\n" + os_lines);
  }
  EXPECT_EQ(conv.GetCodePage(), 12345);
}

// Makes the system refuse a code page for the length of a test.
class refused_code_page {
 public:
  explicit refused_code_page(std::int32_t code_page) {
    os::override_code_page_name(code_page, "NO-SUCH-ENCODING");
  }
  ~refused_code_page() { os::override_code_page_name(0, nullptr); }
};

TEST(OSTextConv, RefusedChineseCodePagesFallBackTo936ForGood) {
  for (std::int32_t code_page : {20936, 54936}) {
    refused_code_page refused(code_page);
    COSTextConv to_wide(code_page);
    EXPECT_EQ(str(to_wide.MBtoWC(narrow(kGbkBytes))), kGbkText);
    EXPECT_EQ(to_wide.GetCodePage(), 936);
    EXPECT_EQ(str(to_wide.WCtoMB(wide(kGbkText))), kGbkBytes);
    EXPECT_EQ(to_wide.GetCodePage(), 936);
    COSTextConv to_bytes(code_page);
    EXPECT_EQ(str(to_bytes.WCtoMB(wide(kGbkText))), kGbkBytes);
    EXPECT_EQ(to_bytes.GetCodePage(), 936);
  }
  // Other refused code pages fail as they are.
  refused_code_page refused(1252);
  COSTextConv conv(1252);
  EXPECT_THROW(conv.MBtoWC(narrow("abc")), ostxtconvExp);
  EXPECT_EQ(conv.GetCodePage(), 1252);
}

}  // namespace
}  // namespace Velk
