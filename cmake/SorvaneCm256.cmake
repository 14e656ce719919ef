# The cm256 erasure code. Linux: Debian's packaged port (libcm256cc). Windows: the upstream sources
# named by SORVANE_CM256_SOURCE_DIR, compiled here; without them the build has no parity.
# SV_ERASURE_CODE_SOURCE names the one adapter source (src/net) that fits what was found.
set(SORVANE_CM256_SOURCE_DIR "" CACHE PATH "Upstream cm256 sources (cm256.cpp, gf256.cpp) for Windows builds")
add_library(sv_cm256 INTERFACE)

# GCC and Clang build the SSSE3 table lookups only when told the target has them (every x86-64
# CPU of the last fifteen years does); MSVC needs no switch.
set(SV_CM256_SIMD_OPTIONS "")
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|amd64|i.86")
  set(SV_CM256_SIMD_OPTIONS -mssse3)
endif()

if(NOT WIN32)
  pkg_check_modules(CM256CC REQUIRED IMPORTED_TARGET libcm256cc)
  # The package's header needs the SIMD switch its pkg-config file omits.
  target_link_libraries(sv_cm256 INTERFACE PkgConfig::CM256CC)
  target_compile_definitions(sv_cm256 INTERFACE USE_SSSE3)
  target_compile_options(sv_cm256 INTERFACE ${SV_CM256_SIMD_OPTIONS})
  set(SV_ERASURE_CODE_SOURCE erasure_code_cm256cc.cpp)
elseif(SORVANE_CM256_SOURCE_DIR)
  # Older upstream trees keep everything at the top; newer ones split src/ and include/. Searched
  # afresh on every configure, so a changed folder is followed.
  unset(SV_CM256_SRC_DIR CACHE)
  unset(SV_CM256_INCLUDE_DIR CACHE)
  find_path(SV_CM256_SRC_DIR cm256.cpp PATHS "${SORVANE_CM256_SOURCE_DIR}"
            PATH_SUFFIXES src NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_path(SV_CM256_INCLUDE_DIR cm256.h PATHS "${SORVANE_CM256_SOURCE_DIR}"
            PATH_SUFFIXES include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT SV_CM256_SRC_DIR OR NOT SV_CM256_INCLUDE_DIR OR NOT EXISTS "${SV_CM256_SRC_DIR}/gf256.cpp")
    message(FATAL_ERROR "cm256: no cm256.cpp, gf256.cpp and cm256.h in ${SORVANE_CM256_SOURCE_DIR}")
  endif()
  add_library(sv_cm256_upstream STATIC "${SV_CM256_SRC_DIR}/cm256.cpp" "${SV_CM256_SRC_DIR}/gf256.cpp")
  target_include_directories(sv_cm256_upstream SYSTEM PUBLIC "${SV_CM256_INCLUDE_DIR}")
  target_compile_options(sv_cm256_upstream PRIVATE ${SV_CM256_SIMD_OPTIONS})
  target_link_libraries(sv_cm256 INTERFACE sv_cm256_upstream)
  set(SV_ERASURE_CODE_SOURCE erasure_code_cm256.cpp)
  message(STATUS "cm256: compiling the sources in ${SORVANE_CM256_SOURCE_DIR}: video carries parity")
else()
  message(STATUS "cm256: no sources given (-DSORVANE_CM256_SOURCE_DIR=...): "
                 "this build sends video without parity fragments")
  set(SV_ERASURE_CODE_SOURCE erasure_code_none.cpp)
endif()
