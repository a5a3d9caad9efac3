zq_add_test(test_centralwidget_zqdownload SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_centralwidget_zqdownload.cpp
            LIBS zq_download)
