// The terminal: whether a standard stream is one, the NO_COLOR convention,
// and the controlling terminal a dialogue talks to when the standard
// streams are redirected (POSIX: /dev/tty; Windows: the console, CONIN$ and
// CONOUT$).
//
// Each call returns 0 on success or the system's error number.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/os/console.h"

namespace Velk::os {

// True when the stream is connected to a terminal that shows color
// sequences (on Windows the console's virtual-terminal processing is
// switched on for it, and a console without it does not count).
bool shows_colors(std_stream stream);

// True when the environment variable NO_COLOR is set to a non-empty value:
// the user asks programs not to color their output. The only environment
// variable rplc reads.
bool no_color_requested();

// The controlling terminal, open for reading and writing.
struct TERMINAL {
  std::intptr_t input = -1;
  std::intptr_t output = -1;
  bool shows_colors = true;  // color sequences are shown, not printed
};

// Opens the controlling terminal; ENXIO (or the Windows error) when the
// process has none.
int open_terminal(TERMINAL& terminal);

// Writes all size bytes, looping over short writes and interruptions.
int write_terminal(const TERMINAL& terminal, const void* data, std::size_t size);

// Reads one byte typed at the terminal; got is false when the input ended
// (Ctrl+D). A signal whose handler returns ends the wait with EINTR
// (POSIX), so the caller can tell whether the run was interrupted.
int read_terminal_byte(const TERMINAL& terminal, char& byte, bool& got);

// Reads one line typed at the terminal into buffer (without its line feed
// and carriage returns, at most size bytes kept; the rest of a longer line
// is read and dropped). at_end is set when the input ended before a line
// feed. An error ends the line as read_terminal_byte says; what was read
// of the line is then in buffer and count.
inline int read_terminal_line(const TERMINAL& terminal, char* buffer, std::size_t size,
                              std::size_t& count, bool& at_end) {
  count = 0;
  at_end = false;
  for (;;) {
    char byte = 0;
    bool got = false;
    if (const int error = read_terminal_byte(terminal, byte, got)) return error;
    if (!got) {
      at_end = true;
      return 0;
    }
    if (byte == '\n') return 0;
    // A console's line ends in a carriage return and a line feed.
    if (byte != '\r' && count < size) buffer[count++] = byte;
  }
}

void close_terminal(TERMINAL& terminal);

}  // namespace Velk::os
