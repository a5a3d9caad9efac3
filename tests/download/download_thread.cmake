zq_add_test(test_download_thread SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_download_thread.cpp
            LIBS zq_download zq_test_support zq_fixture)
