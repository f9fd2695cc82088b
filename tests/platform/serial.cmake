tarnavel_add_test(test_qtserialport LABEL unit SOURCES test_qtserialport.cpp)
tarnavel_add_test(test_serialdevices LABEL unit SOURCES test_serialdevices.cpp)
