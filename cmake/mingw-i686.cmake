# Cross-compiling for 32-bit Windows with the mingw-w64 toolchain
# (i686-w64-mingw32, POSIX thread model). The runtime libraries are linked
# statically, so rplc.exe needs nothing beside the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(RPLC_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${RPLC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RPLC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RPLC_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RPLC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
