#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "support/core/exceptions.h"
#include "support/text/text_lib_icu.h"
#include "tests/support/text/conv_test_util.h"

namespace Velk {
namespace {

using namespace test;

std::string message_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const byExp& e) {
    return std::to_string(e.GetCode()) + ":" + str(e.GetMessage());
  }
  return "no exception";
}

TEST(TextLibIcu, RoundTrips) {
  const struct {
    const char* name;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"ISO-8859-1", kLatin1Bytes, kLatin1Text},
      {"UTF-8", kUtf8Bytes, kUtf8Text},
      {"GBK", kGbkBytes, kGbkText},
  };
  for (const auto& c : cases) {
    CTextLibIcu conv(narrow(c.name));
    EXPECT_EQ(str(conv.GetEncName()), c.name);
    EXPECT_EQ(str(conv.MBtoWC(narrow(c.bytes))), c.text) << c.name;
    EXPECT_EQ(str(conv.WCtoMB(wide(c.text))), c.bytes) << c.name;
  }
  EXPECT_FALSE(CTextLibIcu::IsLibraryLoaded());
}

TEST(TextLibIcu, CodePagesOpenTheirWindowsNameFirst) {
  CTextLibIcu conv(1252);
  EXPECT_EQ(str(conv.GetEncName()), "windows-1252");
  EXPECT_EQ(str(conv.MBtoWC(narrow("\x80"))), u"\u20AC");
  std::unique_ptr<TTextConv> clone(conv.Clone());
  EXPECT_EQ(str(dynamic_cast<CTextLibIcu&>(*clone).GetEncName()), "windows-1252");
  std::unique_ptr<TTextConv> made(conv.Create(narrow("GBK")));
  EXPECT_EQ(str(made->WCtoMB(wide(kGbkText))), kGbkBytes);
}

TEST(TextLibIcu, RegistryNamesFallBackToTheirWindowsName) {
  CTextLibIcu conv(narrow("ANSI-Cyrillic"));
  EXPECT_EQ(str(conv.GetEncName()), "windows-1251");
  EXPECT_EQ(str(conv.MBtoWC(narrow("\xC0"))), u"\u0410");
}

TEST(TextLibIcu, InvalidInputIsSubstitutedAndEmptyInputIsEmpty) {
  CTextLibIcu conv(narrow("UTF-8"));
  EXPECT_EQ(str(conv.MBtoWC(narrow("a\xFF" "b"))), u"a\uFFFD" u"b");
  wide_buffer w = wide(u"old");
  conv.MBtoWC(w, narrow_buffer());
  EXPECT_TRUE(w.empty());
  narrow_buffer n = narrow("old");
  conv.WCtoMB(n, wide_buffer());
  EXPECT_TRUE(n.empty());
}

TEST(TextLibIcu, ConstructionFailuresDropTheBinding) {
  EXPECT_EQ(message_of([] { CTextLibIcu conv(narrow("No Such Encoding")); }),
            "1:TTextConv::EncToCP - can't convert the encoding to codepage\n"
            "  corresponding mapping doesn't exist\n"
            "  encoding name = No Such Encoding");
  EXPECT_FALSE(CTextLibIcu::IsLibraryLoaded());
  EXPECT_EQ(message_of([] { CTextLibIcu conv(narrow("MacCroatian")); }),
            "3:CTextLibIcu::CTextLibIcu - failed init encoding convertion\n"
            "  encoding name = MacCroatian (windows-10082)\n"
            "  error number  = 4\n"
            "  error desc    = U_FILE_ACCESS_ERROR");
  EXPECT_EQ(message_of([] { CTextLibIcu conv(12345); }),
            "3:CTextLibIcu::CTextLibIcu - failed init encoding convertion\n"
            "  code page     = 12345\n"
            "  encoding name = CP12345\n"
            "  error number  = 4\n"
            "  error desc    = U_FILE_ACCESS_ERROR");
  EXPECT_FALSE(CTextLibIcu::IsLibraryLoaded());
}

TEST(TextLibIcu, TheLastConverterUnloadsTheLibrary) {
  auto first = std::make_unique<CTextLibIcu>(narrow("UTF-8"));
  auto second = std::make_unique<CTextLibIcu>(65001);
  EXPECT_TRUE(CTextLibIcu::IsLibraryLoaded());
  first.reset();
  EXPECT_TRUE(CTextLibIcu::IsLibraryLoaded());
  second.reset();
  EXPECT_FALSE(CTextLibIcu::IsLibraryLoaded());
  CTextLibIcu again(narrow("UTF-8"));
  EXPECT_TRUE(CTextLibIcu::IsLibraryLoaded());
}

TEST(TextLibIcuLoad, LibraryAndEntryPointFailuresAreReported) {
  const std::string load = [] {
    CTextLibIcu::SetLibraryFile("ab");
    const std::string text = message_of([] { CTextLibIcu conv(narrow("UTF-8")); });
    CTextLibIcu::SetLibraryFile(nullptr);
    return text;
  }();
  EXPECT_EQ(load.substr(0, load.find("  sys error code")),
            "3:CTextLibIcu::__AddRef - failed load dynamic library\n"
            "@ CDllLoader::CDllLoader - error loading dynamic library\n"
            "  dll path       = ab\n"
            "  path hex code  = 6162\n");
  // A library without ICU's entry points.
  const std::string locate = [] {
    CTextLibIcu::SetLibraryFile(RPLC_FAKE_ICONV);
    const std::string text = message_of([] { CTextLibIcu conv(narrow("UTF-8")); });
    CTextLibIcu::SetLibraryFile(nullptr);
    return text;
  }();
  EXPECT_EQ(locate.substr(0, locate.find("  sys error code")),
            "3:CTextLibIcu::__AddRef - failed locate icu api\n"
            "@ CDllLoader::GetProc - error get the address of specific proc\n"
            "  proc name      = ucnv_open_72\n");
  EXPECT_FALSE(CTextLibIcu::IsLibraryLoaded());
}

}  // namespace
}  // namespace Velk
