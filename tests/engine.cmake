quorvex_add_test(engine_rules_test SOURCES engine_rules_test.cpp LIBS quorvex_protocol)
include(${CMAKE_CURRENT_LIST_DIR}/engine_e2e.cmake OPTIONAL)
