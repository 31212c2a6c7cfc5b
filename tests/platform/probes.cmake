cv_add_test(NAME probes_tool_runner SOURCES tst_tool_runner.cpp LIBS cv_platform Qt6::Concurrent TIMEOUT 60)
cv_add_test(NAME probes_sysfs SOURCES tst_thunderbolt_sysfs.cpp LIBS cv_platform)
cv_add_test(NAME probes_volumes SOURCES tst_mounted_volumes.cpp LIBS cv_platform)
