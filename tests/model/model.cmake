cv_add_test(NAME model_follow SOURCES tst_follow.cpp LIBS cv_model TIMEOUT 30)
cv_add_test(NAME model_lifecycle SOURCES tst_lifecycle.cpp LIBS cv_model TIMEOUT 30)
cv_add_test(NAME model_commands SOURCES tst_commands.cpp LIBS cv_model TIMEOUT 30)
cv_add_test(NAME model_queries SOURCES tst_queries.cpp LIBS cv_model TIMEOUT 30)
