zq_add_test(test_multi_items SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_multi_items.cpp LIBS zq_download zq_test_support)
