# The Login and Forget Login commands in-process: which login each argument names, and the dialog.
add_executable(login_commands_test ${CMAKE_CURRENT_LIST_DIR}/login_commands_test.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/command_fixture.cpp)
target_link_libraries(login_commands_test PRIVATE fm_plugin bb_core fm_temp_folder fm_check
                                                  fm_login_dialog_driver)
set_target_properties(login_commands_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                                     ${CMAKE_CURRENT_BINARY_DIR}/login_commands_test)
add_test(NAME plugin.login_commands_test COMMAND login_commands_test)
set_tests_properties(plugin.login_commands_test PROPERTIES TIMEOUT 120)
