tarnavel_add_test(test_e2e_cards LABEL e2e TIMEOUT 600 SOURCES test_e2e_cards.cpp)
tarnavel_add_test(test_soak LABEL e2e TIMEOUT 600 SOURCES test_soak.cpp)
