# Tests of the stand-in shell: its logic in-process (bb_core) and blackbox.exe end to end.
add_executable(shell_tests
    ${CMAKE_CURRENT_LIST_DIR}/rc_file_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/menus_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell_core_test.cpp)
target_link_libraries(shell_tests PRIVATE bb_core fm_check)
add_test(NAME shell_tests COMMAND shell_tests)
