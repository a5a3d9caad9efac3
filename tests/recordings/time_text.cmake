zq_add_test(test_time_text SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_time_text.cpp LIBS zq_recordings)
