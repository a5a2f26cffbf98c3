# The container tests read real Windows Media files: generated here with ffmpeg, once per build
# tree, before the test program is built.
# Other suites may depend on the target qor_sample_media and read QOR_SAMPLE_MEDIA_DIR.
set(_qor_sample_media ${CMAKE_BINARY_DIR}/sample-media)
set(QOR_SAMPLE_MEDIA_DIR ${_qor_sample_media})
add_custom_command(
  OUTPUT ${_qor_sample_media}/clip.wmv ${_qor_sample_media}/audio.wma ${_qor_sample_media}/twovideo.asf
          ${_qor_sample_media}/mbr.wmv
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/make-sample-media --force ${_qor_sample_media}
  DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make-sample-media
  COMMENT "Generating sample media")
add_custom_target(qor_sample_media
  DEPENDS ${_qor_sample_media}/clip.wmv ${_qor_sample_media}/audio.wma ${_qor_sample_media}/twovideo.asf
          ${_qor_sample_media}/mbr.wmv)
add_dependencies(asf_tests qor_sample_media)
target_compile_definitions(asf_tests PRIVATE QOR_SAMPLE_MEDIA_DIR="${_qor_sample_media}")
