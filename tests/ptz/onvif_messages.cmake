zq_add_test(test_onvif_messages SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_onvif_messages.cpp LIBS zq_ptz)
