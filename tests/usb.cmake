# USB link tests. usb_link_test needs no device and runs under TSan too;
# usb_device_test drives real libusb against umockdev-emulated receivers and
# re-executes itself under the umockdev preload.
quorvex_add_test(usb_link_test SOURCES usb_link_test.cpp LIBS quorvex_link LABELS threaded)

find_package(PkgConfig REQUIRED)
pkg_check_modules(UMOCKDEV IMPORTED_TARGET umockdev-1.0)
if(UMOCKDEV_FOUND AND NOT QUORVEX_SANITIZE STREQUAL "thread")
    add_library(quorvex_usb_fake STATIC support/usb_fakedevice.cpp)
    target_include_directories(quorvex_usb_fake PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(quorvex_usb_fake PUBLIC PkgConfig::UMOCKDEV quorvex_link)

    add_executable(usb_device_test usb_device_test.cpp)
    target_link_libraries(usb_device_test PRIVATE quorvex_usb_fake GTest::gtest)
    # Discovery runs the binary at build time, where it re-executes itself
    # under the preload as it does under CTest.
    gtest_discover_tests(usb_device_test
        PROPERTIES LABELS "usb;umockdev" TIMEOUT 120
        DISCOVERY_TIMEOUT 60)
endif()
