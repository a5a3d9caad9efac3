zq_add_test(test_download_binary SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_download_binary.cpp LIBS zq_update)
