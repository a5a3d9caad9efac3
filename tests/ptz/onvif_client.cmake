zq_add_test(test_onvif_client SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_onvif_client.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ptz_loopback.cpp ${CMAKE_CURRENT_LIST_DIR}/ptz_loopback.h
            LIBS zq_ptz zq_test_support)
