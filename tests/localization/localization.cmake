cv_add_test(NAME localization SOURCES tst_localization.cpp LIBS cv_localization)
# The scan of the texts the application can show reads the source tree.
target_compile_definitions(test_localization PRIVATE CV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
