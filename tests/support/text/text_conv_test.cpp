#include <gtest/gtest.h>

#include <memory>

#include "support/text/iso_sys_def_conv.h"
#include "support/text/text_conv.h"
#include "tests/support/text/conv_test_util.h"

namespace Velk {
namespace {

using test::narrow;
using test::str;
using test::wide;

TEST(PlainTextConv, WidensSignedBytesAndNarrowsToLowByte) {
  TTextConv conv;
  EXPECT_EQ(str(conv.MBtoWC(narrow(std::string("a\x80\xFF\0z", 5)))),
            std::u16string(u"a\xFF80\xFFFF\0z", 5));
  EXPECT_EQ(str(conv.WCtoMB(wide(u"a\x1234\xFF80\x0100"))),
            std::string("a\x34\x80\x00", 4));
}

TEST(PlainTextConv, EmptyInputReplacesOutput) {
  TTextConv plain;
  CIsoSysDefConv iso;
  for (TTextConv* conv : {&plain, static_cast<TTextConv*>(&iso)}) {
    wide_buffer w = wide(u"old");
    conv->MBtoWC(w, narrow_buffer());
    EXPECT_TRUE(w.empty());
    narrow_buffer n = narrow("old");
    conv->WCtoMB(n, wide_buffer());
    EXPECT_TRUE(n.empty());
  }
}

TEST(IsoSysDefConv, StopsAfterTheFirstNul) {
  CIsoSysDefConv conv;
  const wide_buffer out = conv.MBtoWC(narrow(std::string("ab\0cd", 5)));
  EXPECT_EQ(str(out), std::u16string(u"ab\0", 3));
}

TEST(IsoSysDefConv, UndecodableBytesAndUnencodableUnitsBecomeQuestionMarksOnPosix) {
  // The program runs in the "C" locale: ASCII only.
  CIsoSysDefConv conv;
  EXPECT_EQ(str(conv.MBtoWC(narrow("a\xE9z"))), u"a?z");
  EXPECT_EQ(str(conv.WCtoMB(wide(u"a\u00E9\U0001F600z"))), "a??z");
  EXPECT_EQ(str(conv.WCtoMB(wide(u"plain text"))), "plain text");
}

TEST(IsoSysDefConv, CreatesAndClonesPlainConverters) {
  CIsoSysDefConv conv;
  for (TTextConv* made :
       {conv.Clone(), conv.Create(1252), conv.Create(narrow("UTF-8"))}) {
    EXPECT_EQ(typeid(*made), typeid(TTextConv));
    delete made;
  }
}

}  // namespace
}  // namespace Velk
