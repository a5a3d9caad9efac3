zq_add_test(test_archive_extractor SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_archive_extractor.cpp
            LIBS zq_download PkgConfig::LIBARCHIVE)
