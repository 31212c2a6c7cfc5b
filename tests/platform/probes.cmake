# The cable probe and the removable flag, both over sysfs fixture trees.
cv_add_test(NAME probes_sysfs SOURCES tst_thunderbolt_sysfs.cpp LIBS cv_platform)
