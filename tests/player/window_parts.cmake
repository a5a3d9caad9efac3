# The small objects of the main window: application paths, preview pop-up,
# alarm picture viewer and the storage folder chooser.
zq_add_test(test_window_parts
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_window_parts.cpp
    LIBS zq_player)
