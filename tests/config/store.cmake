tarnavel_add_test(test_settingsval LABEL unit SOURCES test_settingsval.cpp)
tarnavel_add_test(test_settingsio LABEL unit SOURCES test_settingsio.cpp)
tarnavel_add_test(test_ports LABEL unit SOURCES test_ports.cpp)
