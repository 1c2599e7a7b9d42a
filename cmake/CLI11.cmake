# CLI11::CLI11 for the command-line programs. Natively it is Debian's
# package config. CLI11 is headers only, so a cross build uses the same
# headers, but through a folder that holds nothing else: the host's
# /usr/include must never reach the cross compiler.
if(TARGET CLI11::CLI11)
  return()
endif()
if(NOT CMAKE_CROSSCOMPILING)
  find_package(CLI11 REQUIRED)
  return()
endif()
find_path(KESTRUNE_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(only_cli11 ${PROJECT_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${only_cli11})
file(CREATE_LINK ${KESTRUNE_CLI11_INCLUDE}/CLI ${only_cli11}/CLI SYMBOLIC)
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${only_cli11})
