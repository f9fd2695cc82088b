tarnavel_add_test(test_cardmethods LABEL unit SOURCES test_cardmethods.cpp)
tarnavel_add_test(test_frmstatus LABEL widget SOURCES test_frmstatus.cpp)
tarnavel_add_test(test_cardoperations LABEL unit SOURCES test_cardoperations.cpp)
tarnavel_add_test(test_trackfiles LABEL unit SOURCES test_trackfiles.cpp)
