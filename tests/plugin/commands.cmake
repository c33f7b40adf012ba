# The command strings and the context menu, linked with the stand-in shell's real functions. Each
# program runs in a folder of its own: the settings file lives beside the program.
foreach(name commands_test command_dialogs_test)
    add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp
                           ${CMAKE_CURRENT_LIST_DIR}/command_fixture.cpp)
    target_link_libraries(${name} PRIVATE fm_plugin bb_core fm_check)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                             ${CMAKE_CURRENT_BINARY_DIR}/${name})
    add_test(NAME plugin.${name} COMMAND ${name})
    set_tests_properties(plugin.${name} PROPERTIES TIMEOUT 120)
endforeach()
