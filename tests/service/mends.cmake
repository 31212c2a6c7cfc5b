# A client destroyed with an exchange in flight, and the support sentence's catalog key.
cv_add_test(NAME service_mends SOURCES tst_service_mends.cpp LIBS cv_service TIMEOUT 60)
