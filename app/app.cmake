# The Qt shell: one library that the window, the headless mode and the tests
# all link, and the program itself.
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)
set(CMAKE_AUTOUIC ON)

add_library(quorvex_app STATIC
    ${CMAKE_CURRENT_LIST_DIR}/prompter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lmupdate.cpp)
target_include_directories(quorvex_app PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quorvex_app PUBLIC Qt6::Widgets quorvex_protocol quorvex_link)

include(${CMAKE_CURRENT_LIST_DIR}/engine.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/shell.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/headless.cmake OPTIONAL)

# The program, built in this folder so that the Chinese catalogue sits beside it.
add_executable(quorvexupdate ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(quorvexupdate PRIVATE quorvex_app)
install(TARGETS quorvexupdate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
