cv_add_test(NAME service_client SOURCES tst_client.cpp LIBS cv_service TIMEOUT 120)
