cv_add_test(NAME service_records SOURCES tst_records.cpp records_fixture.cpp LIBS cv_service)
