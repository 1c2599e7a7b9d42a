# The "convert" command of kestrune-cli, included by cli/CMakeLists.txt (and
# by the image tests when the CLI is not part of the build).
if(NOT TARGET kestrune_cli_convert)
  add_library(kestrune_cli_convert STATIC ${CMAKE_CURRENT_LIST_DIR}/ConvertCommand.cpp)
  target_include_directories(kestrune_cli_convert PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(kestrune_cli_convert PUBLIC kestrune_image PRIVATE kestrune_warnings)
endif()
