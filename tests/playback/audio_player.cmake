zq_add_test(test_audio_player SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_audio_player.cpp LIBS zq_playback zq_fixture)
set_property(TEST test_audio_player APPEND PROPERTY ENVIRONMENT
             "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/sdl_lsan.supp")
zq_add_test(test_reader_audio SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_reader_audio.cpp LIBS zq_playback zq_fixture)
set_property(TEST test_reader_audio APPEND PROPERTY ENVIRONMENT
             "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/sdl_lsan.supp")
