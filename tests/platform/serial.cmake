tarnavel_add_test(test_qtserialport LABEL unit SOURCES test_qtserialport.cpp)
