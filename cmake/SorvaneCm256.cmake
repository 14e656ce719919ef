# cm256 as Debian packages it (libcm256cc): the oracle our erasure code is tested against byte for
# byte, and the anchor its benchmark is timed against. Linux tests and benchmarks only; nothing
# shipped links it.
if(WIN32 OR NOT (SORVANE_BUILD_TESTS OR SORVANE_BUILD_BENCH))
  return()
endif()
pkg_check_modules(CM256CC REQUIRED IMPORTED_TARGET libcm256cc)
add_library(sv_cm256_oracle INTERFACE)
target_link_libraries(sv_cm256_oracle INTERFACE PkgConfig::CM256CC)
# The package's header needs the SIMD switch its pkg-config file omits.
target_compile_definitions(sv_cm256_oracle INTERFACE USE_SSSE3)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(sv_cm256_oracle INTERFACE -mssse3)
endif()
