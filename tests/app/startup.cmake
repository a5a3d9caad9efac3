zq_add_test(test_startup SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_startup.cpp LIBS zq_app)
zq_add_test(test_zq_log SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_zq_log.cpp LIBS zq_app)
zq_add_test(test_http_singleton SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_http_singleton.cpp LIBS zq_app)
