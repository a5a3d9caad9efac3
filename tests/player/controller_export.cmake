zq_add_test(test_controller_export SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_controller_export.cpp
            LIBS zq_player zq_fixture)
