# The server tests find the sample-media script and the server program through these.
target_compile_definitions(server_tests PRIVATE QOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                                QOR_SERVER_PROGRAM="$<TARGET_FILE:qor-server>")
target_link_libraries(server_tests PRIVATE qor_server)
add_dependencies(server_tests qor-server)
