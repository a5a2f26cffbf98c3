# qor-cli is run as the program it is, against the real qor-server, on generated sample media.
add_dependencies(cli_tests qor-cli qor-server qor_sample_media)
target_compile_definitions(cli_tests PRIVATE QOR_CLI_PROGRAM="$<TARGET_FILE:qor-cli>"
                                             QOR_SERVER_PROGRAM="$<TARGET_FILE:qor-server>"
                                             QOR_SAMPLE_MEDIA_DIR="${CMAKE_BINARY_DIR}/sample-media")
target_link_libraries(cli_tests PRIVATE qor_asf)
# The parsing and terminal pieces are also tested in-process.
target_sources(cli_tests PRIVATE ${PROJECT_SOURCE_DIR}/src/cli/cli_options.cpp
                                 ${PROJECT_SOURCE_DIR}/src/cli/terminal_output.cpp)
target_link_libraries(cli_tests PRIVATE qor_app)
