# The plain-code parts of identification and transfer.
target_sources(quorvex_protocol PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/versionrecord.cpp
    ${CMAKE_CURRENT_LIST_DIR}/identifyreply.cpp
    ${CMAKE_CURRENT_LIST_DIR}/blocksource.cpp
    ${CMAKE_CURRENT_LIST_DIR}/blockcommand.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transferrules.cpp)
