# The simulated Z4 receiver: a library for tests and the receiver-sim tool.
# It has its own frame reader/writer and checksum on purpose: it must not
# share the updater's reading of the protocol.
add_library(quorvex_sim STATIC
    sim/receiversim.cpp
    sim/simcrc.cpp
    sim/simframe.cpp
    sim/simpty.cpp
    sim/simtexts.cpp)
target_include_directories(quorvex_sim PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/sim)
target_link_libraries(quorvex_sim PUBLIC Threads::Threads util)

add_executable(receiver-sim sim/main.cpp)
target_link_libraries(receiver-sim PRIVATE quorvex_sim)
