# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model, which std::thread needs). The C and C++ runtimes are linked
# statically, so the programs need only DLLs every Windows has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine (ctest, test discovery off: see tests/).
find_program(KESTRUNE_WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
if(KESTRUNE_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRUNE_WINE64})
endif()
