# Alerts ended without a click.
cv_add_test(NAME platform_mends SOURCES tst_platform_mends.cpp LIBS cv_platform Qt6::Widgets)
