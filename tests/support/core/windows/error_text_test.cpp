// GetSysErrorDesc on Windows: the system's message table through
// FormatMessageA, without the line break the system puts at the end, and
// empty for a number the system has no text for.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "support/core/error_message.h"

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }

std::string SystemText(DWORD error) {
  char buffer[1025] = {};
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       error, 0, buffer, 1024, nullptr);
  return std::string(buffer, length);
}

TEST(GetSysErrorDescTest, SystemTextWithoutTrailingLineEnd) {
  for (const DWORD error : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}) {
    const std::string text = str(GetSysErrorDesc(int(error)));
    ASSERT_FALSE(text.empty()) << error;
    EXPECT_EQ(text + "\r\n", SystemText(error)) << error;
  }
}

TEST(GetSysErrorDescTest, UnknownNumberHasNoText) {
  EXPECT_EQ(str(GetSysErrorDesc(0x2FFFFFFF)), "");
}

}  // namespace
}  // namespace Velk
