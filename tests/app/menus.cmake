cv_add_test(NAME shell_menus SOURCES tst_shell_menus.cpp LIBS cv_app TIMEOUT 60)
