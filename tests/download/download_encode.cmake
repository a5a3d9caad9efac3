zq_add_test(test_download_encode SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_download_encode.cpp
            LIBS zq_download zq_test_support PkgConfig::LIBZIP)
