zq_add_test(test_controller SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_controller.cpp LIBS zq_player zq_fixture)
zq_add_test(test_controller_qml SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_controller_qml.cpp
            LIBS zq_player zq_fixture Qt6::Qml)
