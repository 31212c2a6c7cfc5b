cv_add_test(NAME shell_install SOURCES tst_shell_install.cpp LIBS cv_app)
cv_add_test(NAME shell_launch_options SOURCES tst_shell_launch_options.cpp LIBS cv_app TIMEOUT 30)
