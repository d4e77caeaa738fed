// Signed decimal text for the converters' encoding names and messages.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

// prefix followed by value in signed decimal ("CP" and 1252 give "CP1252").
inline narrow_buffer with_decimal(const char* prefix, std::int32_t value) {
  narrow_buffer text(prefix);
  if (value < 0) text.push_back('-');
  text.append_number(
      std::uint32_t(value < 0 ? -std::int64_t(value) : std::int64_t(value)), 10);
  return text;
}

}  // namespace Velk
