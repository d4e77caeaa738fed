// Windows implementation of dynamic loading over LoadLibraryA,
// GetProcAddress and FreeLibrary; the error text is the system's.
#include "support/os/dynlib.h"

#include "support/os/error.h"
#include "support/os/windows/windows.h"

namespace Velk::os {

namespace {
void capture(library_error& error) {
  error.number = windows::last_error_number();
  error_text(error.number, error.text, sizeof error.text);
}
}  // namespace

library_handle load_library(const char* file_name, library_error& error) {
  // No message box for a missing or broken library: the caller reports it.
  const UINT old_mode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = ::LoadLibraryA(file_name);
  if (!module) capture(error);
  ::SetErrorMode(old_mode);
  return module;
}

void* library_symbol(library_handle library, const char* name, library_error& error) {
  FARPROC address = ::GetProcAddress(static_cast<HMODULE>(library), name);
  if (!address) capture(error);
  return reinterpret_cast<void*>(address);
}

bool unload_library(library_handle library, library_error& error) {
  if (::FreeLibrary(static_cast<HMODULE>(library))) return true;
  capture(error);
  return false;
}

}  // namespace Velk::os
