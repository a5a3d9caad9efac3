zq_add_test(test_export_worker SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_export_worker.cpp
            ${CMAKE_CURRENT_LIST_DIR}/media_probe.h LIBS zq_export zq_fixture)
