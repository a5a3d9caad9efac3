zq_add_test(test_ptz_tile SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ptz_tile.cpp ${CMAKE_CURRENT_LIST_DIR}/ptz_test_driver.h
            LIBS zq_ptz)
