# GoogleTest for a cross build: Debian ships its sources (package
# googletest), built here with the cross compiler under the names
# find_package(GTest) gives natively (recent GoogleTest makes them itself).
set(gtest_source /usr/src/googletest)
if(NOT EXISTS ${gtest_source}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${gtest_source} (Debian package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${gtest_source} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
