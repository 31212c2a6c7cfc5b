cv_add_test(NAME model_follow SOURCES tst_follow.cpp LIBS cv_model TIMEOUT 60)
cv_add_test(NAME model_lifecycle SOURCES tst_lifecycle.cpp LIBS cv_model TIMEOUT 60)
cv_add_test(NAME model_commands SOURCES tst_commands.cpp LIBS cv_model TIMEOUT 120)
# On a private session bus, with a fake notification server on it.
cv_add_test(NAME model_notices SOURCES tst_notices.cpp LIBS cv_model DBUS TIMEOUT 60)
cv_add_test(NAME model_queries SOURCES tst_queries.cpp LIBS cv_model)
cv_add_test(NAME model_probes SOURCES tst_probes.cpp LIBS cv_model)
cv_add_test(NAME model_live SOURCES tst_live.cpp LIBS cv_model TIMEOUT 60)
