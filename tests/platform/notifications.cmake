cv_add_test(NAME platform_notifications_dbus SOURCES tst_notifications.cpp LIBS cv_platform DBUS TIMEOUT 60)
