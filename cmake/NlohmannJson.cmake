# nlohmann_json::nlohmann_json for the JSON events of the command-line
# program. Natively it is Debian's package config. The library is headers
# only, so a cross build uses the same headers, through a folder that holds
# nothing else: the host's /usr/include must never reach the cross compiler.
if(TARGET nlohmann_json::nlohmann_json)
  return()
endif()
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3 REQUIRED GLOBAL)
  return()
endif()
find_path(KESTRUNE_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
  REQUIRED)
set(only_json ${PROJECT_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${only_json})
file(CREATE_LINK ${KESTRUNE_JSON_INCLUDE}/nlohmann ${only_json}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${only_json})
