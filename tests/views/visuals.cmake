cv_add_test(NAME views_visuals SOURCES tst_visuals.cpp LIBS cv_views DBUS)
