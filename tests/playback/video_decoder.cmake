zq_add_test(test_video_decoder SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_video_decoder.cpp LIBS zq_playback zq_fixture)
zq_add_test(test_media_frame SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_media_frame.cpp LIBS zq_playback)
