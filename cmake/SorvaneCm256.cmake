# The cm256 erasure code. Linux: Debian's packaged port (libcm256cc). Windows: the upstream sources
# named by SORVANE_CM256_SOURCE_DIR, compiled here; without them the build has no parity.
set(SORVANE_CM256_SOURCE_DIR "" CACHE PATH "Upstream cm256 sources (cm256.cpp, gf256.cpp) for Windows builds")
add_library(sv_cm256 INTERFACE)
if(NOT WIN32)
  pkg_check_modules(CM256CC REQUIRED IMPORTED_TARGET libcm256cc)
  # The package's header needs the SIMD switch its pkg-config file omits.
  target_link_libraries(sv_cm256 INTERFACE PkgConfig::CM256CC)
  target_compile_definitions(sv_cm256 INTERFACE USE_SSSE3)
  target_compile_options(sv_cm256 INTERFACE -mssse3)
  set(SV_ERASURE_CODE_SOURCE erasure_code_cm256cc.cpp)
elseif(SORVANE_CM256_SOURCE_DIR)
  add_library(sv_cm256_upstream STATIC "${SORVANE_CM256_SOURCE_DIR}/cm256.cpp"
                                       "${SORVANE_CM256_SOURCE_DIR}/gf256.cpp")
  target_include_directories(sv_cm256_upstream SYSTEM PUBLIC "${SORVANE_CM256_SOURCE_DIR}")
  target_link_libraries(sv_cm256 INTERFACE sv_cm256_upstream)
  set(SV_ERASURE_CODE_SOURCE erasure_code_cm256.cpp)
else()
  message(STATUS "cm256: no sources given (-DSORVANE_CM256_SOURCE_DIR=...): "
                 "this build sends video without parity fragments")
  set(SV_ERASURE_CODE_SOURCE erasure_code_none.cpp)
endif()
