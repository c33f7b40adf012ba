# Start-up, shut-down and the window procedure, in-process against the stand-in shell's real
# functions (the plug-in's window is real, under Wine and Xvfb), and the built DLL's exports.
include(${CMAKE_CURRENT_LIST_DIR}/plugin_support.cmake)
if(EXISTS ${CMAKE_SOURCE_DIR}/shell/shell_record.h)
    add_executable(plugin_lifecycle_test ${CMAKE_CURRENT_LIST_DIR}/lifecycle_test.cpp)
    target_link_libraries(plugin_lifecycle_test PRIVATE fm_plugin_test_support fm_check)
    add_test(NAME plugin_lifecycle COMMAND plugin_lifecycle_test)

    add_executable(plugin_window_proc_test ${CMAKE_CURRENT_LIST_DIR}/window_proc_test.cpp)
    target_link_libraries(plugin_window_proc_test PRIVATE fm_plugin_test_support fm_check)
    add_test(NAME plugin_window_proc COMMAND plugin_window_proc_test)
endif()

add_executable(plugin_exports_test ${CMAKE_CURRENT_LIST_DIR}/exports_test.cpp)
target_link_libraries(plugin_exports_test PRIVATE fm_check)
add_dependencies(plugin_exports_test FeedMarquee)
target_compile_definitions(plugin_exports_test PRIVATE
    FEEDMARQUEE_DLL="$<TARGET_FILE:FeedMarquee>")
add_test(NAME plugin_exports COMMAND plugin_exports_test)
