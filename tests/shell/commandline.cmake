tarnavel_add_test(test_commandline LABEL unit SOURCES test_commandline.cpp)
target_compile_definitions(test_commandline PRIVATE
  TARNAVEL_APP_PATH="$<TARGET_FILE:tarnavel-app>")
add_dependencies(test_commandline tarnavel-app)
