zq_add_test(test_jobs_window SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_jobs_window.cpp LIBS zq_download zq_fixture)
