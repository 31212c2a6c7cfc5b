cv_add_test(NAME files_panel SOURCES tst_open_panel_dialog.cpp LIBS cv_platform Qt6::Widgets)
