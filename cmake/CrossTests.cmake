# Test programs of a cross build cannot be asked for their test list at
# build time (that would start Wine in the middle of the build). Each test
# program is one test instead, run through CMAKE_CROSSCOMPILING_EMULATOR;
# the labels given are kept.
function(gtest_discover_tests target)
  cmake_parse_arguments(arg "" "" "PROPERTIES" ${ARGN})
  add_test(NAME ${target} COMMAND ${target})
  # A program that hangs under Wine fails within minutes, not ctest's 25.
  set_tests_properties(${target} PROPERTIES TIMEOUT 300)
  if(arg_PROPERTIES)
    set_tests_properties(${target} PROPERTIES ${arg_PROPERTIES})
  endif()
endfunction()

# GCC 12 at -O3 warns of an overlapping memcpy inside std::string's
# operator+ ("(" + std::to_string(n)), a false report (GCC bug 105329)
# that the native build does not show; only the tests build that way.
add_compile_options($<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
