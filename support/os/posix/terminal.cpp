// POSIX implementation of the terminal services: isatty, getenv and
// /dev/tty. A line is read in the terminal's own (canonical) mode, so the
// user edits it as usual and Ctrl+C raises SIGINT as usual; a handler that
// returns ends the read with EINTR.
#include "support/os/terminal.h"

#include "support/os/posix/write_all.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace Velk::os {

bool shows_colors(std_stream stream) { return is_terminal(stream); }

bool no_color_requested() {
  const char* value = std::getenv("NO_COLOR");
  return value != nullptr && value[0] != '\0';
}

int open_terminal(TERMINAL& terminal) {
  int fd;
  do {
    fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  terminal.input = terminal.output = fd;
  return 0;
}

int write_terminal(const TERMINAL& terminal, const void* data, std::size_t size) {
  return write_all(int(terminal.output), data, size);
}

int read_terminal_byte(const TERMINAL& terminal, char& byte, bool& got) {
  const ssize_t n = ::read(int(terminal.input), &byte, 1);
  if (n < 0) return errno;  // EINTR too: the caller decides
  got = n == 1;
  return 0;
}

void close_terminal(TERMINAL& terminal) {
  if (terminal.input >= 0) ::close(int(terminal.input));
  terminal.input = terminal.output = -1;
}

}  // namespace Velk::os
