// POSIX implementation of the error-number services.
#include "support/os/error.h"

#include <cerrno>
#include <cstring>

namespace Velk::os {

int last_error() { return errno; }
void set_last_error(int error_number) { errno = error_number; }

namespace {
// strerror_r comes in two flavours; overloads pick whichever libc provides.
[[maybe_unused]] const char* pick(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* pick(const char* result, const char*) {
  return result;
}
}  // namespace

void error_text(int error_number, char* out, std::size_t size) {
  if (size == 0) return;
  char buffer[1024];
  buffer[0] = '\0';
  const char* text = pick(strerror_r(error_number, buffer, sizeof buffer), buffer);
  if (!text) text = "";
  std::strncpy(out, text, size - 1);
  out[size - 1] = '\0';
}

}  // namespace Velk::os
