zq_add_test(test_export_reader_random SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_export_reader_random.cpp
            LIBS zq_playback zq_fixture)
