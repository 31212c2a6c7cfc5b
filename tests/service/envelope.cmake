cv_add_test(NAME service_envelope SOURCES tst_envelope.cpp LIBS cv_service)
