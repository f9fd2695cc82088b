tarnavel_add_test(test_e2e_link LABEL e2e TIMEOUT 600 SOURCES test_e2e_link.cpp)
