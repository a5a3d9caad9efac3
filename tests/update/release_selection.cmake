zq_add_test(test_release_selection SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_release_selection.cpp LIBS zq_update)
