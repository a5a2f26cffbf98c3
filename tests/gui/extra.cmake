# The desktop program's window on Qt's offscreen platform, recording from the real qor-server.
add_dependencies(gui_tests qor qor-server qor_sample_media)
target_compile_definitions(gui_tests PRIVATE QOR_PROGRAM="$<TARGET_FILE:qor>"
                                             QOR_SERVER_PROGRAM="$<TARGET_FILE:qor-server>"
                                             QOR_SAMPLE_MEDIA_DIR="${CMAKE_BINARY_DIR}/sample-media")
set_target_properties(gui_tests PROPERTIES AUTOMOC OFF)

# Pictures of every dialog (scripts/screenshots).
add_executable(qor_dialog_shots ${CMAKE_CURRENT_SOURCE_DIR}/gui/shots/dialog_shots.cpp)
target_link_libraries(qor_dialog_shots PRIVATE qor::gui)
target_compile_options(qor_dialog_shots PRIVATE ${QOR_WARNINGS})
# The desktop entry test installs the build into a folder of its own: every program must be built.
add_dependencies(gui_tests qor-cli)
target_compile_definitions(gui_tests PRIVATE QOR_BUILD_DIR="${CMAKE_BINARY_DIR}")
# The desktop notification, seen by a listener on a session bus of the test's own.
find_program(QOR_DBUS_RUN_SESSION dbus-run-session)
if(QOR_DBUS_RUN_SESSION)
  add_test(NAME gui.NotificationOnASessionBus
           COMMAND ${QOR_DBUS_RUN_SESSION} -- env QOR_PRIVATE_BUS=1 $<TARGET_FILE:gui_tests>
                   --gtest_filter=Notifications.AnUnattendedDownloadThatEndsIsAnnouncedOnTheSessionBus)
endif()
add_test(NAME gui.NotificationWithoutABus
         COMMAND env QOR_NO_BUS=1 $<TARGET_FILE:gui_tests>
                 --gtest_filter=Notifications.WithoutASessionBusTheDownloadEndsQuietly)
foreach(test gui.NotificationOnASessionBus gui.NotificationWithoutABus)
  if(TEST ${test})
    # Qt's D-Bus thread: see tests/sanitizer/README.md.
    set_tests_properties(${test} PROPERTIES LABELS gui TIMEOUT 300 ENVIRONMENT_MODIFICATION
        "TSAN_OPTIONS=string_append::suppressions=${QOR_TSAN_SUPPRESSIONS_DIR}/dbus_thread.supp")
  endif()
endforeach()
# Every window fits a small or high-DPI screen: the dialog pictures' own check, on such screens.
add_dependencies(gui_tests qor_dialog_shots)
target_compile_definitions(gui_tests PRIVATE QOR_DIALOG_SHOTS="$<TARGET_FILE:qor_dialog_shots>")
