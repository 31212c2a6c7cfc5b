cv_add_test(NAME service_host SOURCES tst_service_host.cpp host_support.h LIBS cv_service)
