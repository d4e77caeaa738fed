# Installation of the manual page and the Debian package.
#
#   cmake --install build [--prefix DIR]     bin/rplc, share/man/man1/rplc.1.gz,
#                                             share/bash-completion/completions/rplc
#   cd build && cpack -G DEB                  rplc_<version>_<arch>.deb for /usr
#
# The binary's own install rule sits next to its target in the top-level
# CMakeLists.txt; everything here is in the default install component, so a
# plain "cmake --install" and the package carry the same files.

include(GNUInstallDirs)

# Debian installs manual pages gzip-compressed ("-n" keeps the archive free of
# a time stamp, so rebuilding gives the same bytes). Without gzip the page is
# installed as it is; man reads both.
set(RPLC_MAN_SOURCE ${PROJECT_SOURCE_DIR}/doc/rplc.1)
find_program(RPLC_GZIP gzip)
if(RPLC_GZIP)
  set(RPLC_MAN_PAGE ${PROJECT_BINARY_DIR}/doc/rplc.1.gz)
  add_custom_command(
    OUTPUT ${RPLC_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
    COMMAND ${RPLC_GZIP} -9 -n -c ${RPLC_MAN_SOURCE} > ${RPLC_MAN_PAGE}
    DEPENDS ${RPLC_MAN_SOURCE}
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(rplc_man ALL DEPENDS ${RPLC_MAN_PAGE})
else()
  set(RPLC_MAN_PAGE ${RPLC_MAN_SOURCE})
endif()
install(FILES ${RPLC_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Bash completion, where bash-completion loads it on demand.
install(FILES ${PROJECT_SOURCE_DIR}/doc/rplc.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME rplc)

# The Debian package: "cpack -G DEB" in the build folder. Its runtime
# dependencies (the C and C++ runtimes, the Tcl library and libpcre2-8 the
# binary was linked against) are computed by dpkg-shlibdeps from the binary
# itself. The PCRE2 runtime is named explicitly too, with the oldest version
# the fast regular-expression path was built and tested against.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rplc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "rplc developers <rplc@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "console find-and-replace tool for files and pipes")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpcre2-8-0 (>= 10.42)")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_deb_check.cmake)
# CPack puts the summary above this text as the package's first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "rplc replaces every match of one find pattern (literal, literal ignoring \
ASCII case, or a regular expression in POSIX extended or Tcl's Advanced \
syntax) with one replacement, in the files that wildcard patterns name, \
optionally in all sub-folders, or on standard input. Changed files are \
replaced whole, never left half-written; text is handled as bytes.")

include(CPack)
