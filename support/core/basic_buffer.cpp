#include "support/core/basic_buffer.h"

namespace Velk {

void assign_narrowed(narrow_buffer& out, const wide_buffer& in) {
  out.clear();
  out.reserve_exact(std::size_t(in.length()) + 1);
  const char16_t* units = in.c_str();
  for (wide_buffer::size_type i = 0; i < in.length(); ++i)
    out.push_back(char(units[i] & 0xFF));
}

}  // namespace Velk
