# Read by cpack before it builds a package. The Debian package's dependencies
# (the C and C++ runtimes, the Tcl and PCRE2 libraries) come from
# dpkg-shlibdeps, which CPack runs on the binary after checking it with
# file(1); without either tool CPack would quietly build a package that
# depends on nothing, and the binary would not start where the Tcl library is
# missing.
if(CPACK_GENERATOR STREQUAL "DEB")
  foreach(tool dpkg-shlibdeps file)
    find_program(rplc_tool_path NAMES ${tool} NO_CACHE)
    if(NOT rplc_tool_path)
      message(FATAL_ERROR
        "${tool} not found: the package's dependencies cannot be computed. "
        "Install it first: apt-get install dpkg-dev file")
    endif()
    unset(rplc_tool_path)
  endforeach()
endif()
