cv_add_test(NAME views_demo SOURCES tst_demo.cpp LIBS cv_devtools TIMEOUT 60)
