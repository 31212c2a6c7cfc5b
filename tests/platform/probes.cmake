cv_add_test(NAME probes_tool_runner SOURCES tst_tool_runner.cpp LIBS cv_platform TIMEOUT 60)
# The cable probe and the removable flag, both over sysfs fixture trees.
cv_add_test(NAME probes_sysfs SOURCES tst_thunderbolt_sysfs.cpp LIBS cv_platform)
