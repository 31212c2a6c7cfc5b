cv_add_test(NAME standin_service SOURCES tst_standin.cpp LIBS Qt6::Core TIMEOUT 60)
