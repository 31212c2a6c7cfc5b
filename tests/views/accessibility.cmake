# A reader walks the windows through the AT-SPI bridge on a private Xvfb display,
# with the accessibility bus activated on the private session bus; offscreen, the
# same checks run on the accessible interfaces themselves.
cv_add_test(NAME views_accessibility SOURCES tst_views_accessibility.cpp LIBS cv_views cv_devtools Qt6::DBus X11 DBUS)
add_test(NAME views_accessibility_offscreen COMMAND "${CV_RUN_TEST}" $<TARGET_FILE:test_views_accessibility> interfaces qtScrollAreas)
set_tests_properties(views_accessibility_offscreen PROPERTIES TIMEOUT 120)
