// Dynamic libraries loaded at run time by file name: load, look up an entry
// point, unload. Failures return null / false and leave the OS error number
// (errno, 0 when the loader set none) and the loader's own error text for
// the caller, which builds the message.
#pragma once

#include <cstddef>

namespace Velk::os {

// A loaded library; null is "none".
using library_handle = void*;

struct library_error {
  int number = 0;      // errno after the failed call, 0 when none was set
  char text[512] = {};  // the loader's description of the failure
};

// Loads file_name (searched the system's way when it has no "/") with all
// symbols resolved now and kept local to the library.
library_handle load_library(const char* file_name, library_error& error);

// The address of the entry point name; null when it is missing.
void* library_symbol(library_handle library, const char* name,
                     library_error& error);

// Drops one load of the library; false on failure.
bool unload_library(library_handle library, library_error& error);

}  // namespace Velk::os
