# The integrity worker on generated days, signal by signal.
zq_add_test(test_integrity_check SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_integrity_check.cpp
            LIBS zq_integrity zq_fixture)
# The dialog slot by slot, and the pair started, closed and deleted while the check runs.
zq_add_test(test_integrity_dialog SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_integrity_dialog.cpp
            LIBS zq_integrity)
