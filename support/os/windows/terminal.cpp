// Windows implementation of the terminal services: the console buffers
// CONIN$ and CONOUT$ stand for the controlling terminal. A line is read in
// the console's line mode.
#include "support/os/terminal.h"

#include <cstdlib>

#include "support/os/windows/windows.h"

namespace Velk::os {

namespace {

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// Switches on the console's reading of color sequences; false when the
// console cannot (before Windows 10) or handle is no console.
bool enable_color_sequences(HANDLE handle) {
  constexpr DWORD kVirtualTerminalProcessing = 0x0004;
  DWORD mode = 0;
  if (!::GetConsoleMode(handle, &mode)) return false;
  return (mode & kVirtualTerminalProcessing) ||
         ::SetConsoleMode(handle, mode | kVirtualTerminalProcessing) != 0;
}

}  // namespace

bool shows_colors(std_stream stream) {
  const DWORD which = stream == std_stream::input    ? STD_INPUT_HANDLE
                      : stream == std_stream::output ? STD_OUTPUT_HANDLE
                                                     : STD_ERROR_HANDLE;
  if (stream != std_stream::input) return enable_color_sequences(::GetStdHandle(which));
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

bool no_color_requested() {
  const char* value = std::getenv("NO_COLOR");
  return value != nullptr && value[0] != '\0';
}

int open_terminal(TERMINAL& terminal) {
  HANDLE input = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return int(::GetLastError());
  HANDLE output = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    const int error = int(::GetLastError());
    ::CloseHandle(input);
    return error;
  }
  terminal.input = reinterpret_cast<std::intptr_t>(input);
  terminal.output = reinterpret_cast<std::intptr_t>(output);
  terminal.shows_colors = enable_color_sequences(output);
  return 0;
}

int write_terminal(const TERMINAL& terminal, const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x10000 ? 0x10000 : DWORD(size);
    DWORD put = 0;
    if (!::WriteFile(as_handle(terminal.output), next, chunk, &put, nullptr))
      return int(::GetLastError());
    if (put == 0) return ERROR_WRITE_FAULT;
    next += put;
    size -= put;
  }
  return 0;
}

int read_terminal_byte(const TERMINAL& terminal, char& byte, bool& got) {
  DWORD n = 0;
  if (!::ReadFile(as_handle(terminal.input), &byte, 1, &n, nullptr)) return int(::GetLastError());
  got = n == 1;
  return 0;
}

void close_terminal(TERMINAL& terminal) {
  if (terminal.input != -1) ::CloseHandle(as_handle(terminal.input));
  if (terminal.output != -1) ::CloseHandle(as_handle(terminal.output));
  terminal.input = terminal.output = -1;
}

}  // namespace Velk::os
