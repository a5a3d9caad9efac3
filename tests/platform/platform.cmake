zq_add_test(test_platform SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_platform.cpp LIBS zq_platform)
