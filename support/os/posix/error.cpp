// POSIX implementation of the error-number services.
#include "support/os/error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Velk::os {

int last_error() { return errno; }
void set_last_error(int error_number) { errno = error_number; }

namespace {
// strerror_r comes in two flavours; overloads pick whichever libc provides.
[[maybe_unused]] const char* pick(int result, const char* buffer) {
  // glibc's XSI flavour fills the buffer with "Unknown error N" and still
  // reports EINVAL, so the buffer is kept whenever it holds text.
  return result == 0 || buffer[0] ? buffer : nullptr;
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
  if (!text || !*text) {
    // The XSI flavour may fail for an unknown number without filling the
    // buffer; give the same text the GNU flavour would.
    std::snprintf(buffer, sizeof buffer, "Unknown error %d", error_number);
    text = buffer;
  }
  std::strncpy(out, text, size - 1);
  out[size - 1] = '\0';
}

}  // namespace Velk::os
