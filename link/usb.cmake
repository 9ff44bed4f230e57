# The USB link: libusb underneath, the vendor:product list in Qt settings.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)
target_sources(quorvex_link PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/usbupdate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/usb_device.cpp
    ${CMAKE_CURRENT_LIST_DIR}/usb_discovery.cpp
    ${CMAKE_CURRENT_LIST_DIR}/usb_signal.cpp)
target_link_libraries(quorvex_link PUBLIC PkgConfig::LIBUSB Qt6::Core)
