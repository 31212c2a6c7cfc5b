cv_add_test(NAME service_applog SOURCES tst_applog.cpp LIBS cv_service)
cv_add_test(NAME service_diagnostics SOURCES tst_diagnostics.cpp LIBS cv_service)
