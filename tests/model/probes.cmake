cv_add_test(NAME probes_cable SOURCES tst_cable.cpp LIBS cv_model)
cv_add_test(NAME probes_drives SOURCES tst_drives.cpp LIBS cv_model)
