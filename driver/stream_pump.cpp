#include "driver/stream_pump.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/text_limit.h"

namespace Velk {
namespace {

// A chunk's result may be longer than the chunk (a long replacement); it
// is reserved once at this multiple and grows by the buffer's policy.
constexpr std::size_t kOutputReserveFactor = 2;

}  // namespace

std::uint64_t PumpStream(stream_replacer& replacer, TByteSource& source, TStreamSink& sink,
                         std::size_t chunk) {
  if (chunk == 0) chunk = 1;
  std::vector<char> window(chunk);
  std::size_t held = 0;  // kept bytes at the window's start
  bool at_end = false;
  std::uint64_t input_start = 0;  // input offset of window[0]
  narrow_buffer out;
  out.reserve_exact(chunk * kOutputReserveFactor + 1);
  for (;;) {
    if (!at_end) {
      // Read one chunk behind the kept bytes, or as much again as is kept
      // when that is more (a long line): the window doubles then, so a long
      // line costs linear time.
      const std::size_t want = held + std::max(chunk, held);
      if (want > MAX_TEXT_LENGTH)
        throw std::length_error("a line is longer than the longest text the engine takes");
      if (window.size() < want) window.resize(want);
      while (held < want) {
        const std::size_t got = source.Read(window.data() + held, want - held);
        if (got == 0) {
          at_end = true;
          break;
        }
        held += got;
      }
    }
    const std::uint64_t before = replacer.count();
    const std::size_t consumed = replacer.feed(window.data(), held, at_end, out);
    if (consumed != 0 || !out.empty()) {
      sink.Piece(out, input_start, consumed, replacer.count() != before);
      out.clear();
    }
    held -= consumed;
    if (held != 0 && consumed != 0)
      std::memmove(window.data(), window.data() + consumed, held);
    input_start += consumed;
    if (at_end && held == 0) break;
  }
  return input_start;
}

}  // namespace Velk
