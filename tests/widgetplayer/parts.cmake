# The widget player's pieces without a window: name and time lookups, the
# filler's estimate, the recording ends the look-ups read, the rows, the
# slider, the lists and the file tree.
zq_add_test(test_widgetplayer_parts
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_widgetplayer_parts.cpp
    LIBS zq_widgetplayer zq_fixture)
