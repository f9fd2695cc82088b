tarnavel_add_test(test_regfilestore LABEL unit SOURCES test_regfilestore.cpp)
