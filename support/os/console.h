// The standard streams as raw byte channels. POSIX streams have no text
// mode: every byte, carriage returns included, passes unchanged.
//
// Each call returns 0 on success or the errno value of the failed call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Velk::os {

enum class std_stream { input = 0, output = 1, error = 2 };

// Reads up to size bytes from standard input, retrying on interruption.
// count receives the bytes read; 0 bytes with result 0 is the end of input.
int read_standard_input(void* buffer, std::size_t size, std::size_t& count);

// Size of standard input when it is a regular file, else 0: a hint that lets
// a redirected file be read into one block.
std::uint64_t standard_input_size_hint();

// True when the stream is a terminal (a console on Windows).
bool is_terminal(std_stream stream);

// Writes all size bytes to the stream, looping over short writes and
// interruptions. A reader that closed a pipe raises SIGPIPE as usual.
int write_standard_stream(std_stream stream, const void* data, std::size_t size);

}  // namespace Velk::os
