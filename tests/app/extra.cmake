# The main window tests download from the real qor-server program and read the generated sample
# media.
add_dependencies(app_tests qor-server qor_sample_media)
target_compile_definitions(app_tests PRIVATE QOR_SERVER_PROGRAM="$<TARGET_FILE:qor-server>"
                                             QOR_SAMPLE_MEDIA_DIR="${CMAKE_BINARY_DIR}/sample-media")
