// The longest text the find-and-replace engine takes, whatever the find
// method: 2 GiB less 16 bytes. The regular-expression engine holds its
// subject as one text object of 16-bit units whose length must fit a signed
// 32-bit count (with room for the object's header), one unit per byte. One
// limit for every method means that a text one find accepts no other
// refuses; callers refuse a longer input before the search starts.
#pragma once

#include <cstdint>

namespace Velk {

constexpr std::uint32_t MAX_TEXT_LENGTH = 0x7FFFFFF0u;

}  // namespace Velk
