# The mends of faults found by trying the model as a hostile service and a new user would.
cv_add_test(NAME model_mends SOURCES tst_model_mends.cpp LIBS cv_model TIMEOUT 60)
