// Windows implementation of the code-page conversions: the system's own
// MultiByteToWideChar and WideCharToMultiByte, flags 0, and GetACP.
#include "support/os/codepage.h"

#include <atomic>

#include "support/os/windows/windows.h"

namespace Velk::os {

namespace {
// The code page a test made the system refuse; 0 for none.
std::atomic<std::int32_t> refused_code_page{0};

bool refused(std::int32_t code_page) {
  if (code_page == 0 || refused_code_page.load() != code_page) return false;
  ::SetLastError(ERROR_INVALID_PARAMETER);
  return true;
}
}  // namespace

std::int32_t system_code_page() { return static_cast<std::int32_t>(::GetACP()); }

int invalid_parameter_error() { return ERROR_INVALID_PARAMETER; }

std::uint32_t multibyte_to_utf16(std::int32_t code_page, const char* in,
                                 std::uint32_t in_count, char16_t* out,
                                 std::uint32_t out_capacity) {
  if (refused(code_page)) return 0;
  const int n = ::MultiByteToWideChar(static_cast<UINT>(code_page), 0, in, int(in_count),
                                      reinterpret_cast<wchar_t*>(out),
                                      out ? int(out_capacity) : 0);
  return n > 0 ? std::uint32_t(n) : 0;
}

std::uint32_t utf16_to_multibyte(std::int32_t code_page, const char16_t* in,
                                 std::uint32_t in_count, char* out,
                                 std::uint32_t out_capacity) {
  if (refused(code_page)) return 0;
  const int n = ::WideCharToMultiByte(static_cast<UINT>(code_page), 0,
                                      reinterpret_cast<const wchar_t*>(in), int(in_count), out,
                                      out ? int(out_capacity) : 0, nullptr, nullptr);
  return n > 0 ? std::uint32_t(n) : 0;
}

// The system's code pages cannot be renamed; any name given makes the code
// page refused, which is all the seam is used for.
void override_code_page_name(std::int32_t code_page, const char* name) {
  refused_code_page.store(name ? code_page : 0);
}

}  // namespace Velk::os
