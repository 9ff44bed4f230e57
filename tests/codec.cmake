# Frame codec: unit tests, and the fuzz harnesses (libFuzzer under clang with
# ENABLE_FUZZING, corpus replay under any compiler). All labelled "codec".
quorvex_add_test(codec_test SOURCES codec_test.cpp LIBS quorvex_protocol LABELS codec)
quorvex_add_test(codec_encode_test SOURCES codec_encode_test.cpp LIBS quorvex_protocol
    LABELS codec)
add_subdirectory(fuzz)
