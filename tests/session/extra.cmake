# The session tests run the real qor-server program and read the generated sample media.
add_dependencies(session_tests qor-server qor_sample_media)
target_compile_definitions(session_tests PRIVATE QOR_SERVER_PROGRAM="$<TARGET_FILE:qor-server>"
                                                 QOR_SAMPLE_MEDIA_DIR="${CMAKE_BINARY_DIR}/sample-media")
target_include_directories(session_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/..)
target_compile_definitions(session_tests PRIVATE QOR_RESUME_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/session/data")
# Scripted servers are built with the reference server's own message builders.
target_link_libraries(session_tests PRIVATE qor_server)
