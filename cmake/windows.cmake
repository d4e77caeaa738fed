# The Windows build (cross-compiled with cmake/mingw-i686.cmake): the
# platform layer of support/os/windows, and the static Tcl and PCRE2
# libraries that cmake/windows/build-deps.sh builds (TCL_INCLUDE_PATH,
# TCL_LIBRARY; PCRE2_INCLUDE_DIR, PCRE2_LIBRARY).
rplc_layer(rplc_os support/os/windows)

# Tcl's headers declare its functions for a DLL unless told otherwise, and
# the static library needs the system libraries that its DLL would import.
add_compile_definitions(STATIC_BUILD)
set(RPLC_TCL_SYSTEM_LIBS netapi32 userenv ws2_32)
if(NOT TCL_LIBRARY OR NOT TCL_INCLUDE_PATH)
  message(FATAL_ERROR "Set TCL_LIBRARY and TCL_INCLUDE_PATH to the static Tcl for Windows")
endif()

if(RPLC_WITH_PCRE2)
  if(NOT PCRE2_LIBRARY OR NOT PCRE2_INCLUDE_DIR)
    message(FATAL_ERROR "Set PCRE2_LIBRARY and PCRE2_INCLUDE_DIR to the static PCRE2 for "
                        "Windows, or RPLC_WITH_PCRE2 to OFF")
  endif()
  # PCRE2_STATIC: its header then declares no DLL imports.
  add_library(rplc_pcre2 INTERFACE)
  target_include_directories(rplc_pcre2 INTERFACE ${PCRE2_INCLUDE_DIR})
  target_compile_definitions(rplc_pcre2 INTERFACE PCRE2_STATIC)
  target_link_libraries(rplc_pcre2 INTERFACE ${PCRE2_LIBRARY})
  set(rplc_pcre2_library rplc_pcre2)
endif()

# On a 32-bit target the buffers' 32-bit counts can name more bytes than the
# largest object there (2 GiB), so GCC flags every copy whose count it
# cannot bound. The buffer refuses such sizes before any copy (max_size);
# the warnings say nothing about this code.
add_compile_options(-Wno-stringop-overflow -Wno-alloc-size-larger-than -Wno-array-bounds -Wno-restrict)
