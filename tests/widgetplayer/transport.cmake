# The widget player window following its reader on generated days: seeks
# after a recording boundary, slider presses, the end of reading, recordings
# longer than a minute, two streams, list rows after an index rebuild, hour
# rows with pauses, the lists and rows of two cameras that record
# differently, a recording whose seek index gives no entry, a day without
# recordings, the raw copy of a day opened through a link.
zq_add_test(test_widgetplayer_transport
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_widgetplayer_transport.cpp
    LIBS zq_widgetplayer zq_fixture)
