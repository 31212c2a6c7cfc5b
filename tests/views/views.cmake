cv_add_test(NAME views_logic SOURCES tst_views_logic.cpp LIBS cv_views cv_devtools TIMEOUT 120)
cv_add_test(NAME views_peer SOURCES tst_views_peer.cpp LIBS cv_views cv_devtools TIMEOUT 120)
