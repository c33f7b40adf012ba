# The settings file against the stand-in shell's real settings functions.
include(${CMAKE_CURRENT_LIST_DIR}/plugin_support.cmake)
if(EXISTS ${CMAKE_SOURCE_DIR}/shell/shell_record.h)
    add_executable(plugin_settings_test ${CMAKE_CURRENT_LIST_DIR}/settings_test.cpp)
    target_link_libraries(plugin_settings_test PRIVATE fm_plugin_test_support
                          fm_check)
    add_test(NAME plugin_settings COMMAND plugin_settings_test)
endif()
