cv_add_test(NAME model_state SOURCES tst_model_state.cpp LIBS cv_model)
cv_add_test(NAME model_queries SOURCES tst_model_queries.cpp LIBS cv_model)
# On a private session bus: the last cases run the desktop's notification centre.
cv_add_test(NAME model_permission SOURCES tst_permission.cpp LIBS cv_model DBUS TIMEOUT 60)
