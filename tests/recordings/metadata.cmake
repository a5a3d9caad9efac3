zq_add_test(test_encrypt SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_encrypt.cpp LIBS zq_recordings)
zq_add_test(test_zq_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_zq_file.cpp LIBS zq_recordings)
zq_add_test(test_day_index SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_day_index.cpp LIBS zq_recordings zq_fixture)
zq_add_test(test_parser_thread SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_parser_thread.cpp LIBS zq_recordings zq_fixture)
