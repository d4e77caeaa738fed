// Splitting one fuzzer input into several texts: the pieces are separated
// by a NUL byte, so a corpus file reads as "piece\0piece\0piece". Missing
// pieces are empty. Only for the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rplc_fuzz {

inline std::vector<std::string> SplitInput(const std::uint8_t* data, std::size_t size,
                                           std::size_t pieces) {
  std::vector<std::string> out(pieces);
  std::size_t k = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && k + 1 < pieces) {
      ++k;
      continue;
    }
    out[k].push_back(char(data[i]));
  }
  return out;
}

}  // namespace rplc_fuzz
