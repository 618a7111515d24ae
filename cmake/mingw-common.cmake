# Shared part of the MinGW-w64 toolchain files: compilers, search roots, static linking, and Wine
# as the emulator that runs the 64-bit test programs on this Linux machine.
set(CMAKE_C_COMPILER ${UDPTRAIL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UDPTRAIL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${UDPTRAIL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${UDPTRAIL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C++ runtime, libgcc and winpthreads are linked in, so the program
# needs no MinGW DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

# Only the 64-bit programs can run here: this machine's kernel executes no 32-bit x86 code.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(UDPTRAIL_WINE64 /usr/lib/wine/wine64 CACHE FILEPATH "wine64 loader that runs the test programs")
  # A Wine prefix of the build tree's own, so that tests never touch the user's ~/.wine.
  set(UDPTRAIL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${UDPTRAIL_WINE64} ${UDPTRAIL_WINEPREFIX})
endif()
