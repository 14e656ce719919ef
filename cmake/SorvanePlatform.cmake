# Platform switches shared by every target: which implementation files CMake picks, warnings,
# and the static runtime of the mingw-w64 build.
if(WIN32)
  set(SV_PLATFORM_SUFFIX win)
else()
  set(SV_PLATFORM_SUFFIX posix)
endif()

if(MSVC)
  add_compile_options(/W4 /utf-8 /permissive-)
  add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE _WIN32_WINNT=0x0A00)
else()
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
endif()

if(MINGW)
  add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE _WIN32_WINNT=0x0A00)
  # Each DLL and test program carries libgcc, libstdc++ and winpthread itself, so it needs nothing
  # beyond the DLLs that Windows ships.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

if(WIN32)
  enable_language(RC)
endif()

# sv_version_resource(target file description): on Windows, a version resource carrying the
# project version, the file name and a description.
function(sv_version_resource target file description)
  if(NOT WIN32)
    return()
  endif()
  set(SV_RC_NAME "${target}")
  set(SV_RC_FILE "${file}")
  set(SV_RC_DESCRIPTION "${description}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/templates/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()

# sv_add_platform_sources(target base...): adds base_win.cpp or base_posix.cpp for each base name.
function(sv_add_platform_sources target)
  foreach(base IN LISTS ARGN)
    target_sources(${target} PRIVATE ${base}_${SV_PLATFORM_SUFFIX}.cpp)
  endforeach()
endfunction()

# sv_plugin_exports(target exports...): the named C functions are the module's only exports.
function(sv_plugin_exports target)
  if(WIN32)
    if(MINGW)
      # Exports come from __declspec(dllexport) alone; nothing else leaks out of the DLL.
      target_link_options(${target} PRIVATE -Wl,--exclude-all-symbols)
    endif()
  else()
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}.exports.map")
    set(body "{\n")
    if(ARGN)
      string(APPEND body "  global:\n")
      foreach(sym IN LISTS ARGN)
        string(APPEND body "    ${sym};\n")
      endforeach()
    endif()
    string(APPEND body "  local: *;\n};\n")
    file(WRITE "${script}" "${body}")
    target_link_options(${target} PRIVATE "-Wl,--version-script=${script}" -Wl,--no-undefined)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${script}")
  endif()
endfunction()
