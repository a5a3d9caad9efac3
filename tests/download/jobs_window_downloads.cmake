zq_add_test(test_jobs_window_downloads SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_jobs_window_downloads.cpp
            LIBS zq_download zq_test_support)
