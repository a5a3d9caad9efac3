# The widget player window end to end on a generated storage folder, offscreen.
zq_add_test(test_widgetplayer_window
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_widgetplayer_window.cpp
    LIBS zq_widgetplayer zq_fixture)
