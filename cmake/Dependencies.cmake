# Third-party code, all from Debian's packages: RapidXML and Boost.Regex (header-only),
# SQLite (POSIX only) and GoogleTest built from its sources.

# The cross build must not see the build machine's /usr/include, so the two header-only
# libraries are offered through a folder that holds just their own directories.
set(HVS_THIRDPARTY_INCLUDE ${CMAKE_BINARY_DIR}/thirdparty/include)
file(MAKE_DIRECTORY ${HVS_THIRDPARTY_INCLUDE})
foreach(dir boost rapidxml)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: install the Debian package that provides it")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${HVS_THIRDPARTY_INCLUDE}/${dir} SYMBOLIC)
endforeach()

add_library(hvs_thirdparty_headers INTERFACE)
target_include_directories(hvs_thirdparty_headers SYSTEM INTERFACE ${HVS_THIRDPARTY_INCLUDE})

if(HVS_PLATFORM STREQUAL "posix")
  find_package(SQLite3 REQUIRED)
  find_package(Threads REQUIRED)
endif()

if(HVS_BUILD_TESTS)
  set(HVS_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${HVS_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
