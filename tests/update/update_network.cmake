zq_add_test(test_update_network SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_update_network.cpp LIBS zq_update zq_test_support)
zq_add_test(test_update_startup SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_update_startup.cpp LIBS zq_update zq_test_support)
