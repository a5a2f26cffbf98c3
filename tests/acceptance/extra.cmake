# The fault matrix runs the real qor-cli against the real qor-server (and a few local faults) on
# the generated sample media; ffprobe judges every file it keeps.
add_dependencies(acceptance_tests qor-cli qor-server qor_sample_media)
target_compile_definitions(acceptance_tests PRIVATE
                           QOR_CLI_PROGRAM="$<TARGET_FILE:qor-cli>"
                           QOR_SERVER_PROGRAM="$<TARGET_FILE:qor-server>"
                           QOR_SAMPLE_MEDIA_DIR="${CMAKE_BINARY_DIR}/sample-media")
target_link_libraries(acceptance_tests PRIVATE qor_asf)
