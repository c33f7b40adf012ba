# Tests of the stand-in shell: its logic in-process (bb_core) and blackbox.exe end to end.
add_executable(shell_tests
    ${CMAKE_CURRENT_LIST_DIR}/rc_file_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/menus_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell_core_test.cpp)
target_link_libraries(shell_tests PRIVATE bb_core fm_temp_folder fm_check)
add_test(NAME shell_tests COMMAND shell_tests)

# The driver other end-to-end tests can use too: it starts blackbox.exe and scripts its control
# channel.
add_library(bb_control_driver STATIC ${CMAKE_CURRENT_LIST_DIR}/shell_driver.cpp)
target_link_libraries(bb_control_driver PUBLIC fm_temp_folder)

# A small plug-in the shell's own end-to-end tests load.
add_library(shell_test_plugin SHARED ${CMAKE_CURRENT_LIST_DIR}/test_plugin.cpp)
set_target_properties(shell_test_plugin PROPERTIES PREFIX "")
target_link_libraries(shell_test_plugin PRIVATE blackbox_import comdlg32 user32 gdi32)

add_executable(shell_e2e ${CMAKE_CURRENT_LIST_DIR}/shell_e2e_test.cpp)
target_link_libraries(shell_e2e PRIVATE bb_control_driver fm_check)
add_dependencies(shell_e2e blackbox shell_test_plugin)
# One test per case, so that ctest can run the cases side by side.
foreach(case theShellLoads menusArePicked modalBoxes theSlitPluginsFile quittingWith
        commonDialogs aPluginThatDoesNotStart aRefreshWhileTheMenu)
    add_test(NAME shell_e2e_${case} COMMAND shell_e2e ${case})
endforeach()
