// The record of where a replace-all loop replaced: one entry per
// replacement, in the order made. A loop fills it only when the caller
// passes one (the preview needs it; an ordinary run does not pay for it).
//
// input_start/input_length: the matched bytes of the original text.
// output_start/output_length: the bytes that replaced them in the result.
#pragma once

#include <cstdint>
#include <vector>

namespace Velk {

struct REPLACEMENT_RECORD {
  std::uint32_t input_start;
  std::uint32_t input_length;
  std::uint32_t output_start;
  std::uint32_t output_length;
};

using ReplacementLog = std::vector<REPLACEMENT_RECORD>;

}  // namespace Velk
