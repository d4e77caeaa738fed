// Copying a text through its literal matches, each replaced, in one scan.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/core/basic_buffer.h"
#include "support/core/byte_search.h"

namespace Velk {

// How far append_replacing got: text[0, read) is appended, its `count`
// matches replaced; read is the end of the last match. Unless searched,
// the rest is still to be searched match by match (the finder handed it
// back, see byte_finder::copy_replacing).
struct literal_copy {
  std::size_t read = 0;
  std::uint64_t count = 0;
  bool searched = false;
};

// Appends text[0, length) to out through its last match, every match
// (left to right, not overlapping) replaced by `with`; out grows as
// needed. The text after the last match is left to the caller.
literal_copy append_replacing(const byte_finder& finder, const char* text, std::size_t length,
                              const narrow_buffer& with, narrow_buffer& out);

}  // namespace Velk
