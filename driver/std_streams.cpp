#include "driver/std_streams.h"

#include "support/core/c_escape.h"
#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/os/console.h"

namespace Velk {
namespace {

constexpr std::uint32_t kReadBlock = 1u << 20;

[[noreturn]] void ThrowStreamError(int code, const char* head, int error) {
  throw sysfileExp(code, message_builder(head)
                             .os_error("sys error", "error desc", error)
                             .label_width(10)
                             .str());
}

}  // namespace

bool ReadStandardInput(narrow_buffer& out, std::uint32_t max_length) {
  // A redirected file announces its size: one block then suffices (one
  // spare byte beyond the terminator lets the final read see the end
  // without growing the block).
  const std::uint64_t start = out.length();
  const std::uint64_t hint = os::standard_input_size_hint();
  if (start + hint > max_length) return false;
  if (hint) out.reserve_grow(std::size_t(start + hint + 2));
  const std::uint32_t low_water = hint ? 2 : kReadBlock / 2;
  for (;;) {
    if (out.capacity() - out.length() < low_water)
      out.reserve_grow(std::size_t(out.length()) + kReadBlock + 1);
    // Leave room for the terminator the buffer keeps after its text.
    const std::size_t room = out.capacity() - out.length() - 1;
    std::size_t count = 0;
    const int error = os::read_standard_input(out.data() + out.length(), room, count);
    if (error)
      ThrowStreamError(7, "StdStream::Read - error reading standard input", error);
    if (count == 0) break;
    out.set_length(out.length() + std::uint32_t(count));
    if (out.length() > max_length) return false;
  }
  if (out.data()) out.data()[out.length()] = '\0';
  return true;
}

void WriteStandardOutput(const narrow_buffer& data) {
  const int error =
      os::write_standard_stream(os::std_stream::output, data.c_str(), data.length());
  if (error)
    ThrowStreamError(9, "StdStream::Write - error writing standard output", error);
}

void WriteStandardError(const narrow_buffer& data) {
  os::write_standard_stream(os::std_stream::error, data.c_str(), data.length());
}

namespace {

bool IsTerminal(bool error_stream) {
  static const bool output = os::is_terminal(os::std_stream::output);
  static const bool error = os::is_terminal(os::std_stream::error);
  return error_stream ? error : output;
}

}  // namespace

narrow_buffer ShownName(const narrow_buffer& name, bool on_error_stream) {
  return IsTerminal(on_error_stream) ? EscapeControlBytes(name, false) : name;
}

narrow_buffer ShownMessage(const narrow_buffer& text) {
  return IsTerminal(true) ? EscapeControlBytes(text, true) : text;
}

void WriteErrorLine(const narrow_buffer& text) {
  WriteStandardError(text + "\n");
}

void WriteErrorText(const narrow_buffer& lines) {
  os::write_standard_stream(os::std_stream::error, lines.c_str(), lines.length());
}

}  // namespace Velk
