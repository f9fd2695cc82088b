tarnavel_add_test(test_options LABEL widget SOURCES test_options.cpp)
tarnavel_add_test(test_ledtest LABEL widget SOURCES test_ledtest.cpp)
