cv_add_test(NAME shell_icons SOURCES tst_shell_icons.cpp LIBS cv_app)
# The test lays out an installed prefix the way AppBundle recognises one.
target_compile_definitions(test_shell_icons PRIVATE
  CV_DATA_SUBDIR="${CV_DATA_SUBDIR}" CV_BINDIR="${CMAKE_INSTALL_BINDIR}")
