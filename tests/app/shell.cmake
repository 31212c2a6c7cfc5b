cv_add_test(NAME shell_runtime SOURCES tst_shell_runtime.cpp LIBS cv_app)
cv_add_test(NAME shell_updates SOURCES tst_shell_updates.cpp LIBS cv_app)
