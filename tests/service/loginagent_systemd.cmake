cv_add_test(NAME service_loginagent_systemd SOURCES tst_systemd_agent.cpp host_support.h LIBS cv_model cv_service DBUS TIMEOUT 300)
