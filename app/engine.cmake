# Main frame and update view: identification and the transfer engine.
target_sources(quorvex_app PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/mainframe.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mainframe_commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/updateview.cpp
    ${CMAKE_CURRENT_LIST_DIR}/protocolwait.cpp)
