# The headless mode (quorvexupdate --headless) and the installation of the
# pieces that are not part of the window: the udev rule.
target_sources(quorvex_app PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/headless.cpp
    ${CMAKE_CURRENT_LIST_DIR}/headless_options.cpp
    ${CMAKE_CURRENT_LIST_DIR}/headless_output.cpp
    ${CMAKE_CURRENT_LIST_DIR}/headless_run.cpp)

include(${CMAKE_CURRENT_LIST_DIR}/install.cmake)
