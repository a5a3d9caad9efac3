zq_add_test(test_probes SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_probes.cpp LIBS zq_diagnostics zq_test_support)
