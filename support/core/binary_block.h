// The binary-file rule: a file whose first block holds a NUL byte is taken
// for binary. Text files hold no NUL byte; nearly every binary format has
// one within its first few kilobytes (headers, padding, small integers).
#pragma once

#include <cstddef>
#include <cstring>

namespace Velk {

// The size of the first block that the rule looks at.
inline constexpr std::size_t kBinaryCheckBytes = 8192;

// True when the size bytes at data hold a NUL byte. Give it the first
// min(size, kBinaryCheckBytes) bytes of a file to apply the rule.
inline bool HasNulByte(const char* data, std::size_t size) {
  return size != 0 && std::memchr(data, 0, size) != nullptr;
}

}  // namespace Velk
