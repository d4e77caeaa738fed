// GetSysErrorDesc on POSIX: the C library's texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/core/error_message.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }

TEST(GetSysErrorDescTest, TextWithoutTrailingLineEnd) {
  EXPECT_EQ(str(GetSysErrorDesc(ENOENT)), "No such file or directory");
  EXPECT_EQ(str(GetSysErrorDesc(EACCES)), "Permission denied");
}

TEST(GetSysErrorDescTest, UnknownNumber) {
  EXPECT_EQ(str(GetSysErrorDesc(123456)), "Unknown error 123456");
  EXPECT_EQ(str(GetSysErrorDesc(-5)), "Unknown error -5");
}

}  // namespace
}  // namespace Velk
