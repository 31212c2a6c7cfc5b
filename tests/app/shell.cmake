cv_add_test(NAME shell_windows SOURCES tst_shell_windows.cpp delegate_fixture.h LIBS cv_app)
# Clicks notices on a notification server of its own on a private session bus.
cv_add_test(NAME shell_quit SOURCES tst_shell_quit.cpp delegate_fixture.h LIBS cv_app DBUS)
# Starts the real corvane several times on a private session bus.
cv_add_test(NAME shell_instance SOURCES tst_shell_instance.cpp LIBS cv_app DBUS TIMEOUT 120)
target_compile_definitions(test_shell_instance PRIVATE CORVANE_PATH="$<TARGET_FILE:corvane>")
add_dependencies(test_shell_instance corvane)
# The demo launches ask a fake per-user service manager on a private session bus.
cv_add_test(NAME shell_launch SOURCES tst_shell_launch.cpp delegate_fixture.h LIBS cv_app DBUS)
# Starts the real corvane under a desktop portal on a private session bus.
cv_add_test(NAME shell_appearance SOURCES tst_shell_appearance.cpp LIBS cv_views DBUS TIMEOUT 60)
target_compile_definitions(test_shell_appearance PRIVATE CORVANE_PATH="$<TARGET_FILE:corvane>")
add_dependencies(test_shell_appearance corvane)
set_tests_properties(shell_appearance PROPERTIES REQUIRED_FILES "$<TARGET_FILE:corvane>")
# One small screen each: 1024 × 600, and 1600 × 1200 at twice the scale; then two
# screens, the primary right of another one at the origin (a monitor left of a
# laptop's panel).
cv_add_test(NAME shell_screens SOURCES tst_shell_screens.cpp delegate_fixture.h LIBS cv_app TIMEOUT 60)
add_test(NAME shell_screens_scaled COMMAND "${CV_RUN_TEST}" $<TARGET_FILE:test_shell_screens>)
set_tests_properties(shell_screens_scaled PROPERTIES TIMEOUT 60 ENVIRONMENT "CV_TEST_SCREEN=1600x1200;QT_SCALE_FACTOR=2")
add_test(NAME shell_screens_two COMMAND "${CV_RUN_TEST}" $<TARGET_FILE:test_shell_screens>)
set_tests_properties(shell_screens_two PROPERTIES TIMEOUT 60 ENVIRONMENT "CV_TEST_SCREEN=1440x900+1280+0,1280x1024+0+0")
# Window stacking: on a private Xvfb display under a window manager of the test's own.
add_test(NAME shell_windows_stacked COMMAND "${CV_RUN_TEST}" --x11 $<TARGET_FILE:test_shell_windows> coveredSheetComesToFront)
set_tests_properties(shell_windows_stacked PROPERTIES TIMEOUT 90)
