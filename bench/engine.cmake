# A full update through the real path; run as: engine_bench tools/receiver-sim
if(QUORVEX_BUILD_APP)
    add_executable(engine_bench engine_bench.cpp)
    target_link_libraries(engine_bench PRIVATE quorvex_app)
endif()
