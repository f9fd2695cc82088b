tarnavel_add_test(test_e2e_cli LABEL e2e TIMEOUT 600 SOURCES test_e2e_cli.cpp)
target_compile_definitions(test_e2e_cli PRIVATE TARNAVEL_CLI_PATH="$<TARGET_FILE:tarnavel-cli>")
add_dependencies(test_e2e_cli tarnavel-cli)
