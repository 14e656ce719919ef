# Third-party dependencies. All come from Debian packages on Linux; the Windows builds take only
# what the Windows SDK (mingw-w64 headers) provides.
option(SORVANE_BUILD_TESTS "Build the GoogleTest suites" ON)
if(WIN32)
  set(SORVANE_BUILD_BENCH_DEFAULT OFF)
else()
  set(SORVANE_BUILD_BENCH_DEFAULT ON)
endif()
option(SORVANE_BUILD_BENCH "Build the benchmarks" ${SORVANE_BUILD_BENCH_DEFAULT})

find_package(Threads REQUIRED)

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
endif()

# Per-dependency modules, each owned with the code that uses it.
include(SorvaneCm256 OPTIONAL)
