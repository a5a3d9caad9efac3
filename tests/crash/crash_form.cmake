zq_add_test(test_crash_form SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_crash_form.cpp LIBS zq_crash)
