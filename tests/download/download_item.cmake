zq_add_test(test_download_item SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_download_item.cpp LIBS zq_download zq_test_support)
