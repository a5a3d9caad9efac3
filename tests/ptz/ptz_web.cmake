zq_add_test(test_ptz_web SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ptz_web.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ptz_loopback.cpp ${CMAKE_CURRENT_LIST_DIR}/ptz_loopback.h
            LIBS zq_ptz zq_test_support zq_fixture CURL::libcurl)
zq_add_test(test_curl_worker SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_curl_worker.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ptz_loopback.cpp ${CMAKE_CURRENT_LIST_DIR}/ptz_loopback.h
            LIBS zq_ptz zq_test_support)
