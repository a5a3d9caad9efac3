zq_add_test(test_stream_encoder SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stream_encoder.cpp
            ${CMAKE_CURRENT_LIST_DIR}/media_probe.h LIBS zq_export)
set_property(TEST test_stream_encoder APPEND PROPERTY ENVIRONMENT
             "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp")
