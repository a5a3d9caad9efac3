zq_add_test(test_encrypt SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_encrypt.cpp LIBS zq_recordings)
zq_add_test(test_zq_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_zq_file.cpp LIBS zq_recordings)
