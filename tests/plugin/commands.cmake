# The command strings and the context menu, linked with the stand-in shell's real functions. Each
# program runs in a folder of its own: the settings file lives beside the program.
foreach(name commands_test command_dialogs_test opml_commands_test)
    add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp
                           ${CMAKE_CURRENT_LIST_DIR}/command_fixture.cpp)
    target_link_libraries(${name} PRIVATE fm_plugin bb_core fm_temp_folder fm_check)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                             ${CMAKE_CURRENT_BINARY_DIR}/${name})
    add_test(NAME plugin.${name} COMMAND ${name})
    set_tests_properties(plugin.${name} PROPERTIES TIMEOUT 120)
endforeach()

# The menu tests read the tree the stand-in shell records.
if(EXISTS ${CMAKE_SOURCE_DIR}/shell/shell_record.h)
    add_executable(menu_test ${CMAKE_CURRENT_LIST_DIR}/menu_test.cpp
                             ${CMAKE_CURRENT_LIST_DIR}/command_fixture.cpp)
    target_link_libraries(menu_test PRIVATE fm_plugin bb_core fm_temp_folder fm_check)
    set_target_properties(menu_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                               ${CMAKE_CURRENT_BINARY_DIR}/menu_test)
    add_test(NAME plugin.menu_test COMMAND menu_test)
    set_tests_properties(plugin.menu_test PROPERTIES TIMEOUT 120)
endif()
