tarnavel_add_test(test_render LABEL widget SOURCES test_render.cpp)
