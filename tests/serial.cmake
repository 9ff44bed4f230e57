# Pseudo-terminal helper for every test that plays the far end of a serial line.
add_library(quorvex_test_pty STATIC support/pty.cpp)
# Included as "support/pty.h": a bare pty.h would hide the system header of that name.
target_include_directories(quorvex_test_pty PUBLIC ${CMAKE_CURRENT_LIST_DIR})

quorvex_add_test(serial_dcb_test SOURCES serial_dcb_test.cpp LIBS quorvex_link)
quorvex_add_test(serial_comports_test SOURCES serial_comports_test.cpp
    LIBS quorvex_link quorvex_test_pty Qt6::Core)
# Uses QSettings only, on the test's own thread, to map COM numbers to ptys.
quorvex_add_test(serial_port_test SOURCES serial_port_test.cpp
    LIBS quorvex_link quorvex_test_pty Qt6::Core LABELS threaded)
