#include "support/text/iso_sys_def_conv.h"

#include <climits>
#include <cwchar>

namespace Velk {

// The wide buffer holds UTF-16 units while wchar_t holds whole characters:
// a character above U+FFFF becomes a surrogate pair, and a pair is joined
// again before it goes to wcrtomb.
void CIsoSysDefConv::MBtoWC(wide_buffer& out, const narrow_buffer& in) {
  out.clear();
  if (in.empty()) return;
  out.reserve_exact(std::size_t(in.length()) + 1);
  std::mbstate_t state{};
  const char* next = in.data();
  std::size_t left = in.length();
  while (left) {
    wchar_t ch = 0;
    const std::size_t used = std::mbrtowc(&ch, next, left, &state);
    if (used == 0) {
      out.push_back(u'\0');
      return;
    }
    if (used == std::size_t(-1) || used == std::size_t(-2)) {
      out.push_back(u'?');
      state = std::mbstate_t{};
      ++next;
      --left;
      continue;
    }
    const auto code = static_cast<std::uint32_t>(ch);
    if (code > 0xFFFF && code <= 0x10FFFF) {
      out.push_back(char16_t(0xD800 + ((code - 0x10000) >> 10)));
      out.push_back(char16_t(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      out.push_back(code > 0xFFFF ? u'?' : char16_t(code));
    }
    next += used;
    left -= used;
  }
}

void CIsoSysDefConv::WCtoMB(narrow_buffer& out, const wide_buffer& in) {
  out.clear();
  if (in.empty()) return;
  out.reserve_exact(std::size_t(in.length()) + 1);
  std::mbstate_t state{};
  const char16_t* units = in.data();
  for (wide_buffer::size_type i = 0; i < in.length(); ++i) {
    std::uint32_t code = units[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < in.length() &&
        units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    char bytes[MB_LEN_MAX];
    const std::size_t made = std::wcrtomb(bytes, wchar_t(code), &state);
    if (made == std::size_t(-1)) {
      out.push_back('?');
      state = std::mbstate_t{};
    } else {
      out.append(bytes, narrow_buffer::size_type(made));
    }
  }
}

}  // namespace Velk
