# Cross-builds the Windows programs on Debian with mingw-w64 (the POSIX threads variant, so
# std::thread works), linked statically so that Windows needs none of its runtime files.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests are listed and run through Wine (ctest in build-windows/), when it is there.
find_program(LORVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(LORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LORVANE_WINE})
endif()
