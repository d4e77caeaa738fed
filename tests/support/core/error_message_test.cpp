#include "support/core/error_message.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <type_traits>
#include <string>

#include "support/core/exceptions.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }

TEST(MessageBuilderTest, Layouts) {
  struct Case {
    const char* name;
    narrow_buffer built;
    const char* expected;
  } cases[] = {
      {"head alone, no line feed",
       message_builder("CDir::Open - nothing to open").str(), "CDir::Open - nothing to open"},
      {"labels padded to the longest",
       message_builder("CDir::Open - error open dir : not exist")
           .detail("dir to open", "/a/b")
           .detail("current working dir", "/w")
           .end_with_newline()
           .str(),
       "CDir::Open - error open dir : not exist\n"
       "  dir to open         = /a/b\n"
       "  current working dir = /w\n"},
      {"numbers in decimal",
       message_builder("CSem::P - failed P a semaphore")
           .detail("count", std::uint32_t(4000000000u))
           .detail("delta", -2147483647 - 1)
           .str(),
       "CSem::P - failed P a semaphore\n"
       "  count = 4000000000\n"
       "  delta = -2147483648"},
      {"minimum label width",
       message_builder("CSysFile::Read - failed read")
           .label_width(10)
           .detail("sys error", 0)
           .str(),
       "CSysFile::Read - failed read\n"
       "  sys error  = 0"},
      {"cause on its own line",
       message_builder("CSysFile::Open - failed determine the file path to open")
           .detail("file name ", "x")
           .cause(narrow_buffer("CDir::ConvToFullPath - nothing to convert"))
           .str(),
       "CSysFile::Open - failed determine the file path to open\n"
       "  file name  = x\n"
       "@ CDir::ConvToFullPath - nothing to convert"},
      {"cause after the head alone",
       message_builder("CTextLibIcu::__AddRef - failed load dynamic library")
           .cause(narrow_buffer("CDllLoader - failed\n  a = b"))
           .str(),
       "CTextLibIcu::__AddRef - failed load dynamic library\n"
       "@ CDllLoader - failed\n  a = b"},
  };
  for (const Case& c : cases) EXPECT_EQ(str(c.built), c.expected) << c.name;
}

TEST(MessageBuilderTest, OsErrorIsNumberThenTextLast) {
  const narrow_buffer message = message_builder("CSem::P - failed P a semaphore")
                                    .detail("sem", "s1")
                                    .os_error("system error", "error desc", ENOENT)
                                    .str();
  EXPECT_EQ(str(message),
            "CSem::P - failed P a semaphore\n"
            "  sem          = s1\n"
            "  system error = 2\n"
            "  error desc   = " + str(GetSysErrorDesc(ENOENT)));
}

TEST(ExceptionsTest, ByExpIsNotAStandardException) {
  auto throws_dir = [] { throw dirExp(3, narrow_buffer("CDir::Open - x")); };
  bool caught_standard = false;
  bool caught_family = false;
  try {
    try {
      throws_dir();
    } catch (const std::exception&) {
      caught_standard = true;
    }
  } catch (const byExp& e) {
    caught_family = true;
    EXPECT_EQ(str(e.GetMessage()), "CDir::Open - x");
    EXPECT_EQ(e.GetCode(), 3);
  }
  EXPECT_FALSE(caught_standard);
  EXPECT_TRUE(caught_family);
}

TEST(ExceptionsTest, CaughtByEveryBaseAndNotBySiblings) {
  try {
    throw sysfileExp(9, narrow_buffer("m"));
  } catch (const dirExp&) {
    ADD_FAILURE() << "a sibling caught it";
  } catch (const fileExp& e) {
    EXPECT_EQ(e.GetCode(), 9);
  }
  try {
    throw libicuExp(4, narrow_buffer("m"));
  } catch (const ioExp&) {
    ADD_FAILURE() << "ioExp caught a converter exception";
  } catch (const syssrvExp&) {
  }
  EXPECT_TRUE((std::is_base_of_v<tconvExp, ostxtconvExp>));
  EXPECT_TRUE((std::is_base_of_v<syncExp, eventExp>));
  EXPECT_TRUE((std::is_base_of_v<utilExp, sysfileExp>));
}

TEST(ExceptionsTest, CopySharesTheMessage) {
  narrow_buffer message("CSem::V - failed V a semaphore");
  semExp original(5, message);
  semExp copy = original;
  EXPECT_EQ(copy.GetMessage().data(), message.data());
  EXPECT_EQ(copy.GetCode(), 5);
}

}  // namespace
}  // namespace Velk
