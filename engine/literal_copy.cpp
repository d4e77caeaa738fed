#include "engine/literal_copy.h"

namespace Velk {

literal_copy append_replacing(const byte_finder& finder, const char* text, std::size_t length,
                              const narrow_buffer& with, narrow_buffer& out) {
  literal_copy got;
  // Un-shares out, and makes room for an output as long as the text.
  out.reserve_grow(std::size_t(out.length()) + length + 1);
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
    // Room for at least the next gap and its replacement.
    out.reserve_grow(std::size_t(out.length()) + (length - got.read) + with.length() + 1);
  }
  out.data()[out.length()] = '\0';
  return got;
}

}  // namespace Velk
