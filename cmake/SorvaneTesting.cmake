# GoogleTest: Debian's package on Linux, Debian's sources for mingw-w64, vcpkg for MSVC.
if(NOT SORVANE_BUILD_TESTS)
  return()
endif()
enable_testing()

# Test code is compiled for quick builds: light optimisation and line tables only (a backtrace
# still names files and lines). The product code it links keeps its build type's flags.
function(sv_test_code_options target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo>:-O1 -g1>)
  endif()
endfunction()

set(SORVANE_GTEST_SOURCE_DIR "" CACHE PATH "GoogleTest sources to build (mingw-w64 build)")
if(SORVANE_GTEST_SOURCE_DIR)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(CMAKE_CXX_VISIBILITY_PRESET default)
  add_subdirectory("${SORVANE_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  set(CMAKE_CXX_VISIBILITY_PRESET hidden)
  sv_test_code_options(gtest)
  sv_test_code_options(gmock)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gmock ALIAS gmock)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

# A few tests build a handful of sources once more under AddressSanitizer (Linux, GCC or Clang).
# A build sanitized as a whole leaves them out: linux-asan instruments those sources already, and
# ThreadSanitizer cannot be combined with AddressSanitizer.
if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  set(SORVANE_PARTIAL_ASAN_TESTS ON)
else()
  set(SORVANE_PARTIAL_ASAN_TESTS OFF)
endif()

# sv_add_test(name SOURCES files... LIBS targets... [LABELS labels...] [RESOURCE_LOCK locks...]
#             [ENVIRONMENT vars...] [TIMEOUT seconds])
# One test program = one ctest entry. The shared main gives every program a fresh APPDATA /
# LOCALAPPDATA / XDG folder (inside the build tree's test-profiles) so no test touches a real
# profile.
function(sv_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;RESOURCE_LOCK;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  sv_test_code_options(${name})
  target_link_libraries(${name} PRIVATE sv_test_support ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(T_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
                       "SV_TEST_PROFILES=${CMAKE_BINARY_DIR}/test-profiles;${T_ENVIRONMENT}")
endfunction()
