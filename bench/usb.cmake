# USB link latency against an emulated receiver (needs umockdev; run by hand).
if(TARGET quorvex_usb_fake)
    add_executable(usb_latency_bench usb_latency_bench.cpp)
    target_link_libraries(usb_latency_bench PRIVATE quorvex_usb_fake)
endif()
