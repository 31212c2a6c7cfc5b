cv_add_test(NAME platform_child SOURCES tst_child_process.cpp LIBS cv_platform TIMEOUT 60)
cv_add_test(NAME platform_desktop SOURCES tst_desktop.cpp LIBS cv_platform DBUS)
