zq_add_test(test_tile_window GL SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tile_window.cpp LIBS zq_view zq_playback zq_fixture)
