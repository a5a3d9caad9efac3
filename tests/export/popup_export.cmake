zq_add_test(test_popup_export SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_popup_export.cpp LIBS zq_export zq_fixture)
zq_add_test(test_raw_export SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_raw_export.cpp LIBS zq_export zq_fixture)
