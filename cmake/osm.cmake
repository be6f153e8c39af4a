# Shared build settings and helpers.

# A compiler cache, when the machine has one, makes rebuilds of several
# checkouts cheap; the build is the same without it.
find_program(OSM_CCACHE ccache)
if(OSM_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER ${OSM_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${OSM_CCACHE})
endif()

if(MSVC)
  set(OSM_WARNINGS /W4)
else()
  set(OSM_WARNINGS -Wall -Wextra -Wno-unused-parameter)
endif()

if(OSM_WINDOWS)
  # Target Windows Server 2008 R2 / Windows 7 and later, ANSI API by default.
  add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # mingw's printf family follows the C99 formats (%lld, %zu).
    add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
  endif()
elseif(OSM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# GoogleTest from the distribution's source package, built for the target.
set(OSM_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")

# Wine prefix the tests run in (cross build only).
set(OSM_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for the tests")

# osm_add_test(NAME SOURCES ... LIBS ... [PROPERTIES ...])
# One CTest entry per test executable; under Wine each needs the prefix fixture.
function(osm_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  target_compile_options(${name} PRIVATE ${OSM_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(OSM_WINDOWS AND CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED wine
      ENVIRONMENT "OSM_WINEPREFIX=${OSM_WINEPREFIX}"
      TIMEOUT 300)
  endif()
  if(T_PROPERTIES)
    set_tests_properties(${name} PROPERTIES ${T_PROPERTIES})
  endif()
endfunction()

# osm_library(NAME [PORTABLE] SOURCES ... LIBS ...)
# Portable libraries are built in both builds; the others only for Windows.
function(osm_library name)
  cmake_parse_arguments(L "PORTABLE" "" "SOURCES;LIBS" ${ARGN})
  if(NOT L_PORTABLE AND NOT OSM_WINDOWS)
    return()
  endif()
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${OSM_WARNINGS})
  if(L_LIBS)
    target_link_libraries(${name} PUBLIC ${L_LIBS})
  endif()
endfunction()
