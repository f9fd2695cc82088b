tarnavel_add_test(test_frmmain LABEL widget SOURCES test_frmmain.cpp)
