cv_add_test(NAME views_window_height SOURCES tst_window_height.cpp LIBS cv_views)
