#include "engine/literal_copy.h"

#include <algorithm>

namespace Velk {

literal_copy append_replacing(const byte_finder& finder, const char* text, std::size_t length,
                              const narrow_buffer& with, narrow_buffer& out) {
  literal_copy got;
  // Un-shares out, and makes room for an output as long as the text.
  out.reserve_grow(
      std::min<std::size_t>(std::size_t(out.length()) + length + 1, narrow_buffer::max_size));
  for (;;) {
    const std::size_t used = out.length();
    const byte_finder::copy_target to{out.data() + used, out.capacity() - used - 1,
                                      with.c_str(), with.length()};
    const byte_finder::copy_done done =
        finder.copy_replacing(text + got.read, length - got.read, to);
    out.set_length(narrow_buffer::size_type(used + done.written));
    got.read += done.read;
    got.count += done.count;
    got.searched = done.why == byte_finder::copy_done::no_more;
    if (done.why != byte_finder::copy_done::no_room) break;
    // Room for the rest as it stands and one replacement, which holds at
    // least the next gap and its replacement; near the buffer's limit, the
    // rest goes to the caller's search match by match, whose appends tell
    // when the output really outgrows it.
    const std::size_t want = std::size_t(out.length()) + (length - got.read) + with.length() + 1;
    const std::size_t had = out.capacity();
    out.reserve_grow(std::min<std::size_t>(want, narrow_buffer::max_size));
    if (out.capacity() == had) break;
  }
  out.data()[out.length()] = '\0';
  return got;
}

}  // namespace Velk
