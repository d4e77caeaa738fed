// Helpers shared by the converter tests.
#pragma once

#include <string>

#include "support/core/basic_buffer.h"

namespace Velk::test {

inline std::string str(const narrow_buffer& text) {
  return std::string(text.c_str(), text.length());
}
inline std::u16string str(const wide_buffer& text) {
  return std::u16string(text.c_str(), text.length());
}
inline narrow_buffer narrow(const std::string& text) {
  return narrow_buffer(text.data(), narrow_buffer::size_type(text.size()));
}
inline wide_buffer wide(const std::u16string& text) {
  return wide_buffer(text.data(), wide_buffer::size_type(text.size()));
}

// Sample texts: Latin-1 "café ñ", UTF-8 with a character above U+FFFF
// (U+1F600) and GBK "中文".
const std::string kLatin1Bytes = "caf\xE9 \xF1";
const std::u16string kLatin1Text = u"caf\u00E9 \u00F1";
const std::string kUtf8Bytes = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";
const std::u16string kUtf8Text = u"a\u00E9\u4E2D\U0001F600z";
const std::string kGbkBytes = "\xD6\xD0\xCE\xC4";
const std::u16string kGbkText = u"\u4E2D\u6587";

}  // namespace Velk::test
