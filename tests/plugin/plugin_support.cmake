# Shared by the plug-in frame's tests: temporary folders, the stand-in module, the message pump,
# and (once the stand-in shell's record exists) a plug-in started in the test's own process.
if(NOT TARGET fm_plugin_test_support)
    set(support_sources ${CMAKE_CURRENT_LIST_DIR}/plugin_test_support.cpp)
    if(EXISTS ${CMAKE_SOURCE_DIR}/shell/shell_record.h)
        list(APPEND support_sources ${CMAKE_CURRENT_LIST_DIR}/plugin_run.cpp)
    endif()
    add_library(fm_plugin_test_support STATIC ${support_sources})
    target_link_libraries(fm_plugin_test_support PUBLIC fm_plugin bb_core)
    add_library(fm_module_stub SHARED ${CMAKE_CURRENT_LIST_DIR}/module_stub.cpp)
    set_target_properties(fm_module_stub PROPERTIES PREFIX "")
    add_dependencies(fm_plugin_test_support fm_module_stub)
endif()
