tarnavel_add_test(test_fsutil LABEL unit SOURCES test_fsutil.cpp)
