cv_add_test(NAME devtools_bounded SOURCES tst_bounded_capture.cpp LIBS cv_devtools TIMEOUT 60)
cv_add_test(NAME devtools_capture SOURCES tst_capture.cpp LIBS cv_devtools cv_model TIMEOUT 120)

# The real application's development launches, end to end. They need the launch
# sequence to hand "--render" to the development tools (renderReference); until it
# does, they are not registered.
set(cv_delegate_source "${PROJECT_SOURCE_DIR}/src/app/app_delegate.cpp")
if(TARGET corvane AND EXISTS "${cv_delegate_source}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${cv_delegate_source}")
  file(READ "${cv_delegate_source}" cv_delegate_text)
  string(REGEX MATCH "renderReference" cv_launch_wired "${cv_delegate_text}")
  if(cv_launch_wired)
    cv_add_test(NAME devtools_launch SOURCES tst_development_launch.cpp LIBS cv_devtools TIMEOUT 240)
    target_compile_definitions(test_devtools_launch PRIVATE CV_CORVANE_PATH="$<TARGET_FILE:corvane>")
    add_dependencies(test_devtools_launch corvane)
  endif()
endif()
