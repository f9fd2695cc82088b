tarnavel_add_test(test_fastsoak LABEL widget TIMEOUT 600 SOURCES test_fastsoak.cpp)
# The same run once more with a seed of its own, printed so that a failure can be repeated.
add_test(NAME test_fastsoak_random COMMAND test_fastsoak)
set_tests_properties(test_fastsoak_random PROPERTIES LABELS widget TIMEOUT 600
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;TARNAVEL_FASTSOAK_SEED=random")
