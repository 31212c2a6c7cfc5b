cv_add_test(NAME platform_defaults SOURCES tst_defaults.cpp LIBS cv_platform)
