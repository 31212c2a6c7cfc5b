cv_add_test(NAME model_commands SOURCES tst_model_commands.cpp LIBS cv_model TIMEOUT 90)
cv_add_test(NAME model_files_drops SOURCES tst_model_files.cpp LIBS cv_model TIMEOUT 120)
cv_add_test(NAME model_notices_dbus SOURCES tst_model_notices.cpp LIBS cv_model DBUS TIMEOUT 60)
