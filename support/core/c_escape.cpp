#include "support/core/c_escape.h"

namespace Velk {

void AppendCEscape(narrow_buffer& out, unsigned char byte) {
  static const char kNamed[] = "\aa\bb\tt\nn\vv\ff\rr\"\"\\\\";
  out.push_back('\\');
  for (const char* p = kNamed; *p; p += 2)
    if (static_cast<unsigned char>(*p) == byte) {
      out.push_back(p[1]);
      return;
    }
  out.push_back(char('0' + (byte >> 6)));
  out.push_back(char('0' + ((byte >> 3) & 7)));
  out.push_back(char('0' + (byte & 7)));
}

narrow_buffer EscapeControlBytes(const narrow_buffer& text, bool keep_line_feeds) {
  const auto needs = [keep_line_feeds](char each) {
    const unsigned char byte = static_cast<unsigned char>(each);
    return IsControlByte(byte) && !(keep_line_feeds && byte == '\n');
  };
  bool any = false;
  for (const char each : text) any = any || needs(each);
  if (!any) return text;
  narrow_buffer out;
  out.reserve_grow(size_t(text.length()) + 16);
  for (const char each : text) {
    if (needs(each))
      AppendCEscape(out, static_cast<unsigned char>(each));
    else
      out.push_back(each);
  }
  return out;
}

}  // namespace Velk
