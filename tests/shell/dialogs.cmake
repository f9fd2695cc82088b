tarnavel_add_test(test_sysinfo LABEL unit SOURCES test_sysinfo.cpp)
tarnavel_add_test(test_about LABEL widget SOURCES test_about.cpp)
