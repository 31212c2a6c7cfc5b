cv_add_test(NAME shell_menus SOURCES tst_shell_menus.cpp LIBS cv_app TIMEOUT 60)
# The copy checks again on a private X display, where the primary selection exists.
add_test(NAME shell_menus_x11 COMMAND "${CV_RUN_TEST}" --x11 $<TARGET_FILE:test_shell_menus> editItemsOnALabel)
set_tests_properties(shell_menus_x11 PROPERTIES TIMEOUT 60)
