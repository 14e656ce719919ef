# The known-folder redirection shared by the test programs and the host simulator. Never linked into
# a plug-in.
include_guard(GLOBAL)
if(WIN32)
  add_library(sv_known_folders STATIC "${CMAKE_CURRENT_LIST_DIR}/known_folders_win.cpp"
                                     "${CMAKE_CURRENT_LIST_DIR}/import_hook_win.cpp")
  target_link_libraries(sv_known_folders PUBLIC ole32 shell32 uuid)
else()
  add_library(sv_known_folders STATIC "${CMAKE_CURRENT_LIST_DIR}/known_folders_posix.cpp")
endif()
target_include_directories(sv_known_folders PUBLIC "${CMAKE_CURRENT_LIST_DIR}/..")
