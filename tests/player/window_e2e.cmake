# The real main window on a generated storage folder, under Xvfb.
zq_add_test(test_window_e2e GL TIMEOUT 700
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_window_e2e.cpp
    LIBS zq_player zq_fixture Qt6::QuickWidgets)
