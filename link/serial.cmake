# The serial port, its base class and the COM number map.
target_sources(quorvex_link PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/serialport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/comports.cpp)
# QSettings holds the COM number overrides; Qt logging the developer trace.
target_link_libraries(quorvex_link PUBLIC Qt6::Core)
