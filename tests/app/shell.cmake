cv_add_test(NAME shell_windows SOURCES tst_shell_windows.cpp delegate_fixture.h LIBS cv_app)
# Clicks notices on a notification server of its own on a private session bus.
cv_add_test(NAME shell_quit SOURCES tst_shell_quit.cpp delegate_fixture.h LIBS cv_app DBUS)
# Starts the real corvane several times on a private session bus.
cv_add_test(NAME shell_instance SOURCES tst_shell_instance.cpp LIBS cv_app DBUS TIMEOUT 60)
target_compile_definitions(test_shell_instance PRIVATE CORVANE_PATH="$<TARGET_FILE:corvane>")
add_dependencies(test_shell_instance corvane)
cv_add_test(NAME shell_launch SOURCES tst_shell_launch.cpp delegate_fixture.h LIBS cv_app)
