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
# The short form of scripts/kill-resume: qor-cli killed and resumed a few times per transport
# against the real qor-server, the result judged by ffprobe.
add_test(NAME kill_resume_short
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/kill-resume --build ${CMAKE_BINARY_DIR} --kills 3
                 --interrupts 1 --seconds 20 --rate 8 --seed 1)
set_tests_properties(kill_resume_short PROPERTIES LABELS cli TIMEOUT 300)
# The JSON qor-cli prints is read back with the same library scripts would use.
find_package(nlohmann_json 3 REQUIRED)
find_package(CLI11 2 REQUIRED)
target_link_libraries(cli_tests PRIVATE nlohmann_json::nlohmann_json CLI11::CLI11)
# The bash completion offers every flag each command's --help lists.
add_test(NAME cli_bash_completion
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/completion_test.sh $<TARGET_FILE:qor-cli>
                 ${PROJECT_SOURCE_DIR}/data/completion/qor-cli.bash)
set_tests_properties(cli_bash_completion PROPERTIES LABELS cli TIMEOUT 60)
