// Windows implementation of the error-number services: GetLastError and the
// system's message table through FormatMessageA.
#include "support/os/error.h"

#include <cstring>

#include "support/os/windows/windows.h"

namespace Velk::os {

int last_error() { return static_cast<int>(::GetLastError()); }
void set_last_error(int error_number) { ::SetLastError(static_cast<DWORD>(error_number)); }

void error_text(int error_number, char* out, std::size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  char buffer[1025];
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(error_number), 0, buffer, 1024,
                                  nullptr);
  if (length == 0) return;  // no text known: empty
  // The system's texts end in a line break: one line feed, then one
  // carriage return, are dropped.
  if (length > 0 && buffer[length - 1] == '\n') --length;
  if (length > 0 && buffer[length - 1] == '\r') --length;
  if (length > size - 1) length = static_cast<DWORD>(size - 1);
  std::memcpy(out, buffer, length);
  out[length] = '\0';
}

}  // namespace Velk::os
