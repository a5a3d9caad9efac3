zq_add_test(test_crash_file_checker SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_crash_file_checker.cpp LIBS zq_crash)
