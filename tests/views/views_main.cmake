cv_add_test(NAME views_main SOURCES tst_views_main.cpp LIBS cv_views cv_devtools TIMEOUT 120)
