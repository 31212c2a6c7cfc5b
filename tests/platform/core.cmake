cv_add_test(NAME platform_files SOURCES tst_files.cpp LIBS cv_platform)
cv_add_test(NAME platform_autostart SOURCES tst_autostart_entry.cpp LIBS cv_platform)
