zq_add_test(test_stream_read_and_control SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stream_read_and_control.cpp
            LIBS zq_playback zq_fixture)
