zq_add_test(test_stream_multipart_parser SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stream_multipart_parser.cpp
            LIBS zq_view zq_fixture)
zq_add_test(test_display_thread_tables SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_display_thread_tables.cpp LIBS zq_view)
zq_add_test(test_stream_client SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stream_client.cpp
            LIBS zq_view zq_test_support zq_fixture CURL::libcurl)
zq_add_test(test_display_thread SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_display_thread.cpp
            LIBS zq_view zq_test_support zq_fixture CURL::libcurl)
zq_add_test(test_tile_stream SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tile_stream.cpp
            LIBS zq_view zq_test_support zq_fixture CURL::libcurl)
zq_add_test(test_tile_stream_window GL SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tile_stream_window.cpp
            LIBS zq_view zq_test_support zq_fixture CURL::libcurl)
