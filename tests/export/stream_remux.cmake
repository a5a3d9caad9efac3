zq_add_test(test_stream_remux SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stream_remux.cpp LIBS zq_export zq_fixture zq_test_support)
