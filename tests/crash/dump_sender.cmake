zq_add_test(test_dump_sender SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_dump_sender.cpp LIBS zq_crash)
