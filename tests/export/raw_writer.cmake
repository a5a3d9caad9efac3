zq_add_test(test_raw_writer SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_raw_writer.cpp LIBS zq_export zq_fixture)
set_property(TEST test_raw_writer APPEND PROPERTY ENVIRONMENT
             "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp")
