zq_add_test(test_loopback_server SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_loopback_server.cpp
            LIBS zq_test_support CURL::libcurl)
