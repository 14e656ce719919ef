# The Windows build under Wine with the test encoder transform, received by the Linux receiver
# (built by the linux preset); skipped when that receiver is missing.
if(WIN32)
  set(SORVANE_LINUX_RECEIVER "${PROJECT_SOURCE_DIR}/build/linux/tools/sv-receiver/app/sv-receiver"
      CACHE FILEPATH "The Linux sv-receiver that the Windows end-to-end test pairs with")
  add_test(NAME sv_e2e_windows_streaming
           COMMAND bash "${CMAKE_CURRENT_SOURCE_DIR}/windows_streaming_e2e.sh"
                   "$<TARGET_FILE:sv-host>" "$<TARGET_FILE:Sorvane>" "${SORVANE_LINUX_RECEIVER}")
  set_tests_properties(sv_e2e_windows_streaming PROPERTIES
                       RESOURCE_LOCK "control_port;media_ports;mft_registry" TIMEOUT 600
                       SKIP_RETURN_CODE 77)
endif()
# Host control, unloading and strangers with the Windows plug-ins: the host simulator's UI thread
# runs its message loop, so play and pause really run there.
if(WIN32)
  foreach(script host_control unload strangers)
    add_test(NAME sv_e2e_windows_${script}
             COMMAND bash "${CMAKE_CURRENT_SOURCE_DIR}/${script}_e2e.sh" "$<TARGET_FILE:sv-host>"
                     "${SORVANE_LINUX_RECEIVER}" "$<TARGET_FILE:Sorvane>")
    set_tests_properties(sv_e2e_windows_${script} PROPERTIES
                         RESOURCE_LOCK "control_port;media_ports;mft_registry" TIMEOUT 900
                         SKIP_RETURN_CODE 77)
  endforeach()
endif()
