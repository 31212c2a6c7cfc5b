# A small program that prints what the localisation layer chose and formats, run by
# the test as a child process where the environment, the region or the folder around
# the executable must differ from the test's own.
add_executable(localization_probe probe.cpp)
target_link_libraries(localization_probe PRIVATE cv_localization)

cv_add_test(NAME localization SOURCES tst_localization.cpp LIBS cv_localization)
target_compile_definitions(test_localization PRIVATE CV_LOCALIZATION_PROBE="$<TARGET_FILE:localization_probe>")
add_dependencies(test_localization localization_probe)
