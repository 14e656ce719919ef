# Test-side codec libraries, shared by the tests and the host simulator (which registers the test
# encoder transform for `--test-encoder`). Never linked into a plug-in.
include_guard(GLOBAL)

# Lossless I_PCM H.264 writer and reader.
add_library(sv_ipcm_h264 STATIC
            "${CMAKE_CURRENT_LIST_DIR}/h264_bits.cpp"
            "${CMAKE_CURRENT_LIST_DIR}/ipcm_h264_writer.cpp"
            "${CMAKE_CURRENT_LIST_DIR}/ipcm_h264_reader.cpp")
target_include_directories(sv_ipcm_h264 PUBLIC "${CMAKE_CURRENT_LIST_DIR}/..")

if(WIN32)
  # The test encoder transform: an in-process H.264 encoder MFT that emits the I_PCM stream.
  set(_transform "${CMAKE_CURRENT_LIST_DIR}/test_transform")
  add_library(sv_test_transform STATIC
              "${_transform}/registration_win.cpp" "${_transform}/transform_state.cpp"
              "${_transform}/transform_object_win.cpp" "${_transform}/transform_types_win.cpp"
              "${_transform}/transform_processing_win.cpp"
              "${_transform}/transform_events_win.cpp"
              "${_transform}/transform_codec_api_win.cpp"
              "${_transform}/transform_attributes_win.cpp")
  target_link_libraries(sv_test_transform PUBLIC sv_ipcm_h264 mfplat mfuuid ole32 oleaut32 uuid
                                                 strmiids)
endif()
