zq_add_test(test_seek_index SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_seek_index.cpp LIBS zq_recordings)
