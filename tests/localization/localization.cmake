cv_add_test(NAME localization SOURCES tst_localization.cpp LIBS cv_localization)
