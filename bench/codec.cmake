# Frame codec figures: parser MB/s over a mixed stream, us per block command.
add_executable(codec_bench codec_bench.cpp)
target_link_libraries(codec_bench PRIVATE quorvex_protocol)
