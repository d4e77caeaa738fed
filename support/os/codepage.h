// Code-page conversion between multibyte text and UTF-16, the system's code
// page, and nothing else: the text converters build on these calls.
//
// The conversions behave like the Windows code-page functions called with
// flags 0: an invalid or incomplete byte sequence becomes U+FFFD, a character
// the code page cannot hold becomes "?". Each returns the number of units
// (bytes) produced, or, when out is null, the number the conversion needs.
// On failure they return 0 and set the OS error number: a code page the
// system cannot convert, or an empty input, gives invalid_parameter_error();
// an output too small gives another number. No exception is thrown.
#pragma once

#include <cstdint>

namespace Velk::os {

// The system's code page for text. A POSIX system has no ANSI code page; its
// text encoding is UTF-8, reported as 65001.
std::int32_t system_code_page();

// The OS error number that means "this code page cannot be converted" (the
// counterpart of ERROR_INVALID_PARAMETER).
int invalid_parameter_error();

std::uint32_t multibyte_to_utf16(std::int32_t code_page, const char* in,
                                 std::uint32_t in_count, char16_t* out,
                                 std::uint32_t out_capacity);

std::uint32_t utf16_to_multibyte(std::int32_t code_page, const char16_t* in,
                                 std::uint32_t in_count, char* out,
                                 std::uint32_t out_capacity);

// Test seam: makes code_page convert through the encoding name given
// (null restores the built-in table), so a test can make a code page fail.
void override_code_page_name(std::int32_t code_page, const char* name);

}  // namespace Velk::os
