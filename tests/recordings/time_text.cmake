zq_add_test(test_time_text SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_time_text.cpp LIBS zq_recordings)
zq_add_test(test_storage_layout SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_storage_layout.cpp LIBS zq_recordings)
