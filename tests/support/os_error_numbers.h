// The OS error numbers that tests expect from failed system calls: errno
// values on POSIX, GetLastError values on Windows.
#pragma once

#if defined(_WIN32)
namespace test_errors {
constexpr int kInvalidArgument = 87;  // ERROR_INVALID_PARAMETER
constexpr int kCountOverflow = 298;   // ERROR_TOO_MANY_POSTS
}  // namespace test_errors
#else
#include <cerrno>
namespace test_errors {
constexpr int kInvalidArgument = EINVAL;
constexpr int kCountOverflow = EOVERFLOW;
}  // namespace test_errors
#endif
