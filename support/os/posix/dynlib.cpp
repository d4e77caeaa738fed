// POSIX implementation of dynamic loading over dlopen, dlsym and dlclose.
// dlerror's text is per thread in the C library, so it is read right after
// the failing call.
#include "support/os/dynlib.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdio>

namespace Velk::os {

namespace {
void capture(library_error& error, int number) {
  error.number = number;
  const char* text = dlerror();
  std::snprintf(error.text, sizeof error.text, "%s", text ? text : "unknown error");
}
}  // namespace

library_handle load_library(const char* file_name, library_error& error) {
  dlerror();
  errno = 0;
  library_handle library = dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
  if (!library) capture(error, errno);
  return library;
}

void* library_symbol(library_handle library, const char* name,
                     library_error& error) {
  dlerror();
  errno = 0;
  void* address = dlsym(library, name);
  if (!address) capture(error, errno);
  return address;
}

bool unload_library(library_handle library, library_error& error) {
  dlerror();
  errno = 0;
  if (dlclose(library) == 0) return true;
  capture(error, errno);
  return false;
}

}  // namespace Velk::os
