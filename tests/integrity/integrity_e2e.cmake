# The integrity button of the real main window on generated folders and damaged copies, under Xvfb.
zq_add_test(test_integrity_e2e GL TIMEOUT 300
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_integrity_e2e.cpp
    LIBS zq_player zq_fixture Qt6::QuickWidgets)
