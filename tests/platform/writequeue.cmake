tarnavel_add_test(test_writequeue LABEL unit SOURCES test_writequeue.cpp)
