# The Windows release: a ZIP archive with rplc.exe and rplc.txt, the help
# screen as the program prints it (CR LF line ends, made by running the
# built program under the cross-compiling emulator, wine).
#
#   ./build.sh windows-zip      build-windows/rplc-<version>-win32.zip

set(RPLC_HELP_TEXT ${PROJECT_BINARY_DIR}/rplc.txt)
add_custom_command(
  OUTPUT ${RPLC_HELP_TEXT}
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:rplc> -h > ${RPLC_HELP_TEXT}
  DEPENDS rplc
  COMMENT "Writing the help screen to rplc.txt"
  VERBATIM)
add_custom_target(rplc_help_text ALL DEPENDS ${RPLC_HELP_TEXT})
install(FILES ${RPLC_HELP_TEXT} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME rplc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
