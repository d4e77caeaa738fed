// OS error numbers and their texts. The error number of every library
// message is errno, read right after the failing call.
#pragma once

#include <cstddef>

namespace Velk::os {

// errno of the calling thread.
int last_error();
void set_last_error(int error_number);

// The C library's description of error_number (thread-safe), cut to fit
// size - 1 bytes; unknown numbers give the library's "Unknown error N".
void error_text(int error_number, char* out, std::size_t size);

}  // namespace Velk::os
