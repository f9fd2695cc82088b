tarnavel_add_test(test_frame LABEL unit SOURCES test_frame.cpp)
tarnavel_add_test(test_readerlink LABEL unit SOURCES test_readerlink.cpp)
