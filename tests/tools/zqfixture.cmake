zq_add_test(test_zqfixture SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_zqfixture.cpp LIBS zq_fixture)
zq_add_test(test_zqfixture_audio SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_zqfixture_audio.cpp LIBS zq_fixture zq_playback)
