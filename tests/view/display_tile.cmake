zq_add_test(test_display_tile SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_display_tile.cpp LIBS zq_view)
zq_add_test(test_tile_input SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tile_input.cpp LIBS zq_view)
zq_add_test(test_tile_overlays SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tile_overlays.cpp LIBS zq_view)
zq_add_test(test_tile_snapshot SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tile_snapshot.cpp LIBS zq_view)
