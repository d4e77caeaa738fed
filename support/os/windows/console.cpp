// Windows implementation of the standard-stream channels. The streams go
// through the runtime's low-level I/O in its default text mode: a carriage
// return and line feed arriving on standard input become a line feed, each
// line feed written goes out as a carriage return and a line feed, and a
// Ctrl+Z in redirected input ends it, as for every console program.
#include "support/os/console.h"

#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "support/os/windows/windows.h"

namespace Velk::os {

namespace {

// The error number of a failed runtime call: the system's, when the
// runtime left one, else the closest system number for the runtime's.
int failure_number() {
  const int system = static_cast<int>(::GetLastError());
  if (system != 0) return system;
  return errno == EBADF ? ERROR_INVALID_HANDLE : ERROR_GEN_FAILURE;
}

}  // namespace

bool is_terminal(std_stream stream) { return ::_isatty(int(stream)) != 0; }

int read_standard_input(void* buffer, std::size_t size, std::size_t& count) {
  count = 0;
  const unsigned chunk = size > unsigned(INT_MAX) ? unsigned(INT_MAX) : unsigned(size);
  ::SetLastError(0);
  const int got = ::_read(0, buffer, chunk);
  if (got < 0) {
    // A pipe whose writer has gone is the end of the input.
    if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;
    return failure_number();
  }
  count = std::size_t(got);
  return 0;
}

std::uint64_t standard_input_size_hint() {
  struct _stati64 info;
  if (::_fstati64(0, &info) != 0 || (info.st_mode & _S_IFREG) == 0) return 0;
  const __int64 position = ::_lseeki64(0, 0, SEEK_CUR);
  if (position < 0 || position >= info.st_size) return 0;
  // In text mode the data may shrink (CR LF to LF), never grow.
  return std::uint64_t(info.st_size - position);
}

int write_standard_stream(std_stream stream, const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const unsigned chunk = size > (1u << 30) ? (1u << 30) : unsigned(size);
    ::SetLastError(0);
    const int put = ::_write(int(stream), next, chunk);
    if (put < 0) return failure_number();
    if (put == 0) return ERROR_WRITE_FAULT;
    next += put;
    size -= std::size_t(put);
  }
  return 0;
}

}  // namespace Velk::os
