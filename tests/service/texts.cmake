cv_add_test(NAME service_texts SOURCES tst_texts.cpp LIBS cv_service)
