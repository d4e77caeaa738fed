#include <gtest/gtest.h>

#include <thread>

#include "support/core/thread.h"

#include "support/text/os_text_conv.h"
#include "support/text/sys_conv.h"
#include "support/text/text_conv_pass.h"
#include "support/text/text_lib_icu.h"
#include "support/text/text_lib_iconv.h"
#include "tests/support/text/conv_test_util.h"

namespace Velk {
namespace {

using namespace test;

TEST(Conv, ReturnsTheSameBytes) {
  std::string every_byte;
  for (int i = 0; i < 256; ++i) every_byte.push_back(char(i));
  for (const std::string& text :
       {std::string(), std::string("plain"), std::string("a\0b\0", 4),
        every_byte, kUtf8Bytes, std::string("\xFF\xFE\x80")}) {
    const narrow_buffer source = narrow(text);
    EXPECT_EQ(str(TTextConv::Conv(source)), text);
    EXPECT_EQ(str(PassArgumentText(source)), text);
  }
  // A view over memory that goes away stays valid: the copy is its own.
  narrow_buffer copy;
  {
    std::string transient = "transient";
    copy = TTextConv::Conv(narrow_buffer::literal(transient.c_str()));
    transient.assign("XXXXXXXXX");
  }
  EXPECT_EQ(str(copy), "transient");
}

TEST(SystemEncoding, UTF8OnThisPlatform) {
  EXPECT_EQ(TTextConv::GetSysCodePage(), 65001);
  EXPECT_EQ(str(TTextConv::GetSysEncName()), "UTF-8");
  EXPECT_EQ(SysCodePageFor(0), 65001);
  EXPECT_EQ(SysCodePageFor(1252), 1252);
  EXPECT_EQ(str(SysEncNameFor(1252)), "ANSI-LatinI");
  EXPECT_EQ(str(SysEncNameFor(0)), "CP0");
}

TEST(CreateSysConv, TheSystemCodePageNeedsNoLibrary) {
  for (std::int32_t code_page : {1252, 65001}) {
    std::unique_ptr<TTextConv> conv(CreateSysConv(code_page));
    ASSERT_EQ(typeid(*conv), typeid(COSTextConv));
    EXPECT_EQ(static_cast<COSTextConv&>(*conv).GetCodePage(), code_page);
    EXPECT_FALSE(CTextLibIConv::IsLibraryLoaded());
    EXPECT_FALSE(CTextLibIcu::IsLibraryLoaded());
  }
}

TEST(GetThreadConv, OnePerThreadClonedFromThePrototype) {
  TTextConv* mine = TTextConv::GetThreadConv();
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(TTextConv::GetThreadConv(), mine);
  ASSERT_EQ(typeid(*mine), typeid(COSTextConv));
  EXPECT_EQ(static_cast<COSTextConv*>(mine)->GetCodePage(), 65001);
  EXPECT_EQ(str(mine->MBtoWC(narrow(kUtf8Bytes))), kUtf8Text);
  EXPECT_FALSE(CTextLibIConv::IsLibraryLoaded());
  EXPECT_FALSE(CTextLibIcu::IsLibraryLoaded());

  TTextConv* others[2] = {nullptr, nullptr};
  std::thread worker([&] {
    others[0] = TTextConv::GetThreadConv();
    EXPECT_EQ(TTextConv::GetThreadConv(), others[0]);
    TTextConv::ReleaseThreadConv();
    TTextConv::ReleaseThreadConv();  // nothing left: no effect
    others[1] = TTextConv::GetThreadConv();
    TTextConv::ReleaseThreadConv();
  });
  worker.join();
  EXPECT_NE(others[0], nullptr);
  EXPECT_NE(others[0], mine);
  EXPECT_NE(others[1], nullptr);
  EXPECT_EQ(TTextConv::GetThreadConv(), mine);
}

// A library thread releases its converter when it ends (the sanitizer
// build's leak check fails otherwise).
TEST(GetThreadConv, LibraryThreadsReleaseTheirConverterAtExit) {
  class converting : public TThread {
   public:
    ~converting() override { Wait(); }
    std::uint32_t Run() override {
      TTextConv* conv = TTextConv::GetThreadConv();
      converted = str(conv->WCtoMB(wide(kUtf8Text)));
      return conv == TTextConv::GetThreadConv() ? 0 : 1;
    }
    std::string converted;
  };
  for (int i = 0; i < 3; ++i) {
    converting thread;
    thread.Create();
    thread.Resume();
    ASSERT_TRUE(thread.Wait());
    EXPECT_EQ(thread.GetExitCode(), 0u);
    EXPECT_EQ(thread.converted, kUtf8Bytes);
  }
}

}  // namespace
}  // namespace Velk
