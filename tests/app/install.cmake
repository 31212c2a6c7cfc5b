cv_add_test(NAME shell_install SOURCES tst_shell_install.cpp LIBS cv_app)
