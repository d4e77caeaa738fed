// ASCII case folding, as the C library's tolower/toupper do in the "C"
// locale (which this program never leaves): only A-Z and a-z change, every
// other byte, including 0x80-0xFF, stays as it is. Table-driven so that hot
// loops never call into the C library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Velk::ascii {

namespace detail {
struct case_tables {
  unsigned char lower[256];
  unsigned char upper[256];
  constexpr case_tables() : lower(), upper() {
    for (int i = 0; i < 256; ++i) {
      lower[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + 32 : i);
      upper[i] = static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 32 : i);
    }
  }
};
inline constexpr case_tables tables{};
}  // namespace detail

inline const unsigned char* lower_table() { return detail::tables.lower; }
inline const unsigned char* upper_table() { return detail::tables.upper; }

inline unsigned char to_lower(char ch) {
  return detail::tables.lower[static_cast<unsigned char>(ch)];
}
inline unsigned char to_upper(char ch) {
  return detail::tables.upper[static_cast<unsigned char>(ch)];
}

}  // namespace Velk::ascii
