cv_add_test(NAME devtools_bounded SOURCES tst_bounded_capture.cpp LIBS cv_devtools TIMEOUT 60)
cv_add_test(NAME devtools_capture SOURCES tst_capture.cpp LIBS cv_devtools cv_model TIMEOUT 120)
