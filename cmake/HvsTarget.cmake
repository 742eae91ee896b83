# Shared compile settings for the project's own targets (never for third-party code).
function(hvs_target_defaults target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${HVS_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${HVS_WERROR}>:-Werror>)
  endif()
  if(NOT MSVC)
    # -O2 after CMake's -O3: the service spends its time in system calls, and -O3's extra
    # inlining and unrolling came to 90 KiB more code, all of it resident.
    target_compile_options(${target} PRIVATE $<$<CONFIG:Release>:-O2>)
  endif()
  if(HVS_PLATFORM STREQUAL "posix" AND NOT MSVC)
    # A section per function, so that the release program's link can leave out what it never
    # calls: fewer pages to map.
    target_compile_options(${target} PRIVATE
      $<$<CONFIG:Release>:-ffunction-sections -fdata-sections>)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# A library of the project: one per folder.
function(hvs_library name)
  add_library(${name} STATIC ${ARGN})
  hvs_target_defaults(${name})
endfunction()
