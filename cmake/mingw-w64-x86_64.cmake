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


# The libraries Debian ships no MinGW builds of (Qt, SQLite, libpq, libpqxx),
# cross-built from Debian's sources by scripts/windows-deps.sh into a cache
# outside the clone. Without it the window and the run records are left out.
if(NOT KESTRUNE_WINDOWS_DEPS)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/windows-deps.sh --print
    OUTPUT_VARIABLE deps OUTPUT_STRIP_TRAILING_WHITESPACE)
  # Only a whole cache has this file (the script renames it into place).
  if(EXISTS ${deps}/BUILD-INFO.txt)
    set(KESTRUNE_WINDOWS_DEPS ${deps} CACHE PATH "The Windows libraries (scripts/windows-deps.sh)"
      FORCE)
  endif()
endif()
# OpenSSL's libcrypto (static), in a cache of its own from the same script:
# the job signatures and the supervisor's password. Without it a station
# reads jobs but checks no signature.
if(NOT KESTRUNE_WINDOWS_OPENSSL)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/windows-deps.sh --print-openssl
    OUTPUT_VARIABLE openssl OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(EXISTS ${openssl}/BUILD-INFO.txt)
    set(KESTRUNE_WINDOWS_OPENSSL ${openssl} CACHE PATH
      "OpenSSL's libcrypto for Windows (scripts/windows-deps.sh)" FORCE)
  endif()
endif()
# Test projects (try_compile) read this file again: they get the same.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTRUNE_WINDOWS_DEPS KESTRUNE_WINDOWS_OPENSSL)
if(KESTRUNE_WINDOWS_OPENSSL)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KESTRUNE_WINDOWS_OPENSSL})
  set(OPENSSL_ROOT_DIR ${KESTRUNE_WINDOWS_OPENSSL})
  set(OPENSSL_USE_STATIC_LIBS ON)
endif()
if(KESTRUNE_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KESTRUNE_WINDOWS_DEPS})
  # Qt's code generators are the host's own (Debian's qt6-base-dev-tools).
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
  set(ENV{PKG_CONFIG_LIBDIR} ${KESTRUNE_WINDOWS_DEPS}/lib/pkgconfig)
else()
  # Never the host's libraries.
  set(ENV{PKG_CONFIG_LIBDIR} /usr/${triple}/lib/pkgconfig)
endif()

# Test programs run under Wine (ctest, test discovery off: see tests/), with
# the libraries' DLLs on Wine's path.
find_program(KESTRUNE_WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
if(KESTRUNE_WINE64 AND KESTRUNE_WINDOWS_DEPS)
  # Qt's DLLs load the compiler's runtime DLLs (libstdc++, libgcc, winpthread).
  set(dll_path "Z:${KESTRUNE_WINDOWS_DEPS}/bin")
  foreach(dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${triple}-g++-posix -print-file-name=${dll}
      OUTPUT_VARIABLE file OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(file ${file} REALPATH)
    get_filename_component(dir ${file} DIRECTORY)
    string(APPEND dll_path "\\;Z:${dir}") # one value: the semicolon is Windows'
  endforeach()
  string(REPLACE "/" "\\" dll_path "${dll_path}")
  set(CMAKE_CROSSCOMPILING_EMULATOR env "WINEPATH=${dll_path}" ${KESTRUNE_WINE64})
elseif(KESTRUNE_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRUNE_WINE64})
endif()
