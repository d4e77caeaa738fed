#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "support/core/exceptions.h"
#include "support/text/dll_loader.h"
#include "support/text/text_lib_iconv.h"
#include "tests/support/text/conv_test_util.h"

namespace Velk {
namespace {

using namespace test;

// The system's iconv (a libiconv, or the C library's own).
TEST(TextLibIConv, RoundTripsThroughTheSystemLibrary) {
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
    CTextLibIConv conv(narrow(c.name));
    EXPECT_EQ(str(conv.GetEncName()), c.name);
    EXPECT_EQ(str(conv.MBtoWC(narrow(c.bytes))), c.text) << c.name;
    EXPECT_EQ(str(conv.WCtoMB(wide(c.text))), c.bytes) << c.name;
  }
  // Longer than one 512-byte chunk.
  std::string long_bytes;
  std::u16string long_text;
  for (int i = 0; i < 300; ++i) {
    long_bytes += kUtf8Bytes;
    long_text += kUtf8Text;
  }
  CTextLibIConv utf8(65001);
  EXPECT_EQ(str(utf8.GetEncName()), "UTF-8");  // "CP65001" is unknown here
  EXPECT_EQ(str(utf8.MBtoWC(narrow(long_bytes))), long_text);
  EXPECT_EQ(str(utf8.WCtoMB(wide(long_text))), long_bytes);
}

TEST(TextLibIConv, InvalidInputNeverThrows) {
  CTextLibIConv utf8(narrow("UTF-8"));
  // An incomplete sequence at the end: one "?" and the conversion stops.
  EXPECT_EQ(str(utf8.MBtoWC(narrow("ab\xC3"))), u"ab?");
  // A stateful target ends in its initial shift state.
  CTextLibIConv jis(narrow("ISO-2022-JP"));
  EXPECT_EQ(str(jis.WCtoMB(wide(u"a\u4E2D"))), "a\x1B$BCf\x1B(B");
}

class FakeIConv : public ::testing::Test {
 protected:
  void SetUp() override { CTextLibIConv::SetLibraryFile(RPLC_FAKE_ICONV); }
  void TearDown() override {
    CTextLibIConv::SetLibraryFile(nullptr);
    EXPECT_FALSE(CTextLibIConv::IsLibraryLoaded());
  }

  // The fake's record of its opens; the fake must be loaded.
  static std::string log() {
    CDllLoader fake(narrow(RPLC_FAKE_ICONV), narrow_buffer(), narrow_buffer());
    using log_fn = const char* (*)();
    return reinterpret_cast<log_fn>(fake.GetProc(narrow("fake_iconv_log")))();
  }
  static int calls() {
    CDllLoader fake(narrow(RPLC_FAKE_ICONV), narrow_buffer(), narrow_buffer());
    using calls_fn = int (*)();
    return reinterpret_cast<calls_fn>(fake.GetProc(narrow("fake_iconv_calls")))();
  }

  static std::string message_of(const std::function<void()>& action) {
    try {
      action();
    } catch (const byExp& e) {
      return std::to_string(e.GetCode()) + ":" + str(e.GetMessage());
    }
    return "no exception";
  }
};

TEST_F(FakeIConv, RefusedRegistryNameRetriesWithItsCodePage) {
  CTextLibIConv conv(narrow("ISO-8859-1"));
  EXPECT_EQ(str(conv.GetEncName()), "CP28591");
  EXPECT_EQ(log(),
            "UTF-16LE//IGNORE<-ISO-8859-1;"
            "UTF-16LE//IGNORE<-CP28591;"
            "CP28591//IGNORE<-UTF-16LE;");
  EXPECT_EQ(str(conv.MBtoWC(narrow(kLatin1Bytes))), kLatin1Text);
  EXPECT_EQ(str(conv.WCtoMB(wide(kLatin1Text))), kLatin1Bytes);
}

TEST_F(FakeIConv, CodePageRetriesWithItsRegistryName) {
  CTextLibIConv conv(28591);  // "CP28591" is known to the fake
  EXPECT_EQ(str(conv.GetEncName()), "CP28591");
  std::unique_ptr<TTextConv> clone(conv.Clone());
  EXPECT_EQ(str(dynamic_cast<CTextLibIConv&>(*clone).GetEncName()), "CP28591");
}

TEST_F(FakeIConv, UnconvertibleInputBecomesQuestionMarks) {
  CTextLibIConv conv(narrow("LATIN-X"));
  EXPECT_EQ(str(conv.MBtoWC(narrow("ab\xFF" "cd"))), u"ab?cd");
  EXPECT_EQ(str(conv.MBtoWC(narrow("ab\xFF"))), u"ab?");
  EXPECT_EQ(str(conv.MBtoWC(narrow("\xFF"))), u"?");
  EXPECT_EQ(str(conv.WCtoMB(wide(u"ab\u4E2D" u"cd"))), "ab?cd");
  EXPECT_EQ(str(conv.WCtoMB(wide(u"ab\u4E2D"))), "ab?");
}

TEST_F(FakeIConv, EmptyInputMakesNoLibraryCall) {
  CTextLibIConv conv(narrow("LATIN-X"));
  const int before = calls();
  wide_buffer w = wide(u"old");
  conv.MBtoWC(w, narrow_buffer());
  narrow_buffer n = narrow("old");
  conv.WCtoMB(n, wide_buffer());
  EXPECT_TRUE(w.empty());
  EXPECT_TRUE(n.empty());
  EXPECT_EQ(calls(), before);
}

TEST_F(FakeIConv, TheLastConverterUnloadsTheLibrary) {
  EXPECT_FALSE(CTextLibIConv::IsLibraryLoaded());
  auto first = std::make_unique<CTextLibIConv>(narrow("LATIN-X"));
  auto second = std::make_unique<CTextLibIConv>(narrow("LATIN-X"));
  EXPECT_TRUE(CTextLibIConv::IsLibraryLoaded());
  first.reset();
  EXPECT_TRUE(CTextLibIConv::IsLibraryLoaded());
  second.reset();
  EXPECT_FALSE(CTextLibIConv::IsLibraryLoaded());
  CTextLibIConv again(narrow("LATIN-X"));
  EXPECT_TRUE(CTextLibIConv::IsLibraryLoaded());
  // A fresh load: the fake's record starts empty.
  EXPECT_EQ(log(), "UTF-16LE//IGNORE<-LATIN-X;LATIN-X//IGNORE<-UTF-16LE;");
}

TEST_F(FakeIConv, ConstructionFailuresDropTheBinding) {
  EXPECT_EQ(message_of([] { CTextLibIConv conv(narrow("Latin 1")); }),
            "1:TTextConv::EncToCP - can't convert the encoding to codepage\n"
            "  corresponding mapping doesn't exist\n"
            "  encoding name = Latin 1");
  EXPECT_FALSE(CTextLibIConv::IsLibraryLoaded());
  EXPECT_EQ(message_of([] { CTextLibIConv conv(narrow("UTF-8")); }),
            "3:CTextLibIConv::CTextLibIConv - failed init encoding convertion\n"
            "  encoding name = UTF-8 (CP65001)");
  EXPECT_EQ(message_of([] { CTextLibIConv conv(narrow("NOFROM")); }),
            "3:CTextLibIConv::CTextLibIConv - failed init encoding convertion\n"
            "  encoding name = NOFROM");
  EXPECT_EQ(message_of([] { CTextLibIConv conv(12345); }),
            "3:CTextLibIConv::CTextLibIConv - failed init encoding convertion\n"
            "  code page     = 12345\n"
            "  encoding name = CP12345");
  EXPECT_EQ(message_of([] { CTextLibIConv conv(1252); }),
            "3:CTextLibIConv::CTextLibIConv - failed init encoding convertion\n"
            "  code page     = 1252\n"
            "  encoding name = ANSI-LatinI");
  EXPECT_FALSE(CTextLibIConv::IsLibraryLoaded());
}

TEST_F(FakeIConv, FailedCloseThrowsFromTheDestructor) {
  CTextLibIConv* conv = new CTextLibIConv(narrow("BADCLOSE"));
  EXPECT_EQ(message_of([&] { delete conv; }),
            "5:CTextLibIConv::~CTextLibIConv - failed release lib iconv's "
            "convertion descriptor");
  EXPECT_FALSE(CTextLibIConv::IsLibraryLoaded());
}

TEST(TextLibIConvLoad, MissingLibraryIsReported) {
  CTextLibIConv::SetLibraryFile("no-such-dir/libnothing.so");
  std::string text;
  try {
    CTextLibIConv conv(narrow("UTF-8"));
  } catch (const libiconvExp& e) {
    EXPECT_EQ(e.GetCode(), 3);
    text = str(e.GetMessage());
  }
  CTextLibIConv::SetLibraryFile(nullptr);
  EXPECT_EQ(text.substr(0, text.find("  sys error code")),
            "CTextLibIConv::__AddRef - failed load dynamic library\n"
            "@ CDllLoader::CDllLoader - error loading dynamic library\n"
            "  dll path       = no-such-dir/libnothing.so\n"
            "  path hex code  = 6E6F2D737563682D6469722F6C69626E6F7468696E672E736F\n");
  EXPECT_FALSE(CTextLibIConv::IsLibraryLoaded());
  // The binding recovers: the next converter loads the library.
  CTextLibIConv conv(narrow("UTF-8"));
  EXPECT_TRUE(CTextLibIConv::IsLibraryLoaded());
}

}  // namespace
}  // namespace Velk
