# Shared by the plug-in frame's tests: temporary folders, the stand-in module, the message pump
# (fm_plugin_test_files), and a plug-in started in the test's own process against the stand-in
# shell's real functions (fm_plugin_test_support, once the shell's record exists).
if(NOT TARGET fm_plugin_test_files)
    add_library(fm_plugin_test_files STATIC ${CMAKE_CURRENT_LIST_DIR}/plugin_test_support.cpp)
    add_library(fm_module_stub SHARED ${CMAKE_CURRENT_LIST_DIR}/module_stub.cpp)
    set_target_properties(fm_module_stub PROPERTIES PREFIX "")
    target_link_libraries(fm_plugin_test_files PUBLIC fm_temp_folder)
    add_dependencies(fm_plugin_test_files fm_module_stub)
    if(EXISTS ${CMAKE_SOURCE_DIR}/shell/shell_record.h)
        add_library(fm_plugin_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/plugin_run.cpp)
        target_link_libraries(fm_plugin_test_support PUBLIC fm_plugin_test_files fm_plugin bb_core)
    endif()
endif()
