# Exports from the real main window on a generated storage folder, under Xvfb.
zq_add_test(test_export_e2e GL TIMEOUT 500
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_export_e2e.cpp
    LIBS zq_player zq_fixture Qt6::QuickWidgets)
set_property(TEST test_export_e2e APPEND PROPERTY ENVIRONMENT
             "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/export/lsan.supp")
