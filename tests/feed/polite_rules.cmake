# The rules of polite updates: the schedule, the health line and the saved copy's format and file.
add_executable(polite_rules_test ${CMAKE_CURRENT_LIST_DIR}/polite_rules_test.cpp)
target_link_libraries(polite_rules_test PRIVATE fm_plugin fm_temp_folder fm_check bb_core)
add_test(NAME polite_rules_test COMMAND polite_rules_test)
set_tests_properties(polite_rules_test PROPERTIES TIMEOUT 120)
