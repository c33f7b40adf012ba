# Start-up, shut-down and the window procedure, in-process against the stand-in shell's real
# functions (the plug-in's window is real, under Wine and Xvfb), and the built DLL's exports.
include(${CMAKE_CURRENT_LIST_DIR}/plugin_support.cmake)
if(EXISTS ${CMAKE_SOURCE_DIR}/shell/shell_record.h)
    add_executable(plugin_lifecycle_test ${CMAKE_CURRENT_LIST_DIR}/lifecycle_test.cpp)
    target_link_libraries(plugin_lifecycle_test PRIVATE fm_plugin_test_support fm_check)
    add_test(NAME plugin_lifecycle COMMAND plugin_lifecycle_test)

    add_executable(plugin_settings_in_force_test ${CMAKE_CURRENT_LIST_DIR}/settings_in_force_test.cpp)
    target_link_libraries(plugin_settings_in_force_test PRIVATE fm_plugin_test_support fm_check
                          oleacc oleaut32 ole32 uuid)
    add_test(NAME plugin_settings_in_force COMMAND plugin_settings_in_force_test)
    set_tests_properties(plugin_settings_in_force PROPERTIES TIMEOUT 300)

    add_executable(plugin_window_proc_test ${CMAKE_CURRENT_LIST_DIR}/window_proc_test.cpp)
    target_link_libraries(plugin_window_proc_test PRIVATE fm_plugin_test_support fm_check)
    add_test(NAME plugin_window_proc COMMAND plugin_window_proc_test)
endif()

add_executable(plugin_exports_test ${CMAKE_CURRENT_LIST_DIR}/exports_test.cpp)
target_link_libraries(plugin_exports_test PRIVATE fm_check version)
add_dependencies(plugin_exports_test FeedMarquee)
target_compile_definitions(plugin_exports_test PRIVATE
    FEEDMARQUEE_DLL="$<TARGET_FILE:FeedMarquee>")
add_test(NAME plugin_exports COMMAND plugin_exports_test)

# End to end: FeedMarquee.dll in the real blackbox.exe, driven through its control channel. A
# helper plug-in starts and stops FeedMarquee.dll on command inside the shell, and a test build of
# the DLL exports its GDI object accounting for the leak count.
if(EXISTS ${CMAKE_SOURCE_DIR}/shell/shell_record.h)
    add_library(fm_plugin_driver SHARED ${CMAKE_CURRENT_LIST_DIR}/shell_driver.cpp
                ${CMAKE_CURRENT_LIST_DIR}/shell_driver.def)
    set_target_properties(fm_plugin_driver PROPERTIES PREFIX "")
    target_link_libraries(fm_plugin_driver PRIVATE blackbox_import oleacc ole32 uuid)

    add_library(fm_counting_plugin SHARED ${CMAKE_SOURCE_DIR}/plugin/dll_main.cpp
                ${CMAKE_CURRENT_LIST_DIR}/gdi_count_export.cpp
                ${CMAKE_CURRENT_LIST_DIR}/exports_counting.def)
    set_target_properties(fm_counting_plugin PROPERTIES PREFIX "" OUTPUT_NAME FeedMarquee
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/counting
                          LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/counting)
    target_link_libraries(fm_counting_plugin PRIVATE fm_plugin blackbox_import)
    target_link_options(fm_counting_plugin PRIVATE -Wl,--enable-stdcall-fixup)

    add_executable(plugin_shell_e2e_test ${CMAKE_CURRENT_LIST_DIR}/shell_e2e_test.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/shell_session.cpp)
    target_link_libraries(plugin_shell_e2e_test PRIVATE fm_plugin_test_files fm_check ws2_32
                          shell32)
    add_dependencies(plugin_shell_e2e_test blackbox FeedMarquee fm_plugin_driver fm_counting_plugin)
    target_compile_definitions(plugin_shell_e2e_test PRIVATE
        BLACKBOX_EXE="$<TARGET_FILE:blackbox>"
        FEEDMARQUEE_DLL="$<TARGET_FILE:FeedMarquee>"
        COUNTING_DLL="$<TARGET_FILE:fm_counting_plugin>"
        SHELL_DRIVER_DLL="$<TARGET_FILE:fm_plugin_driver>")
    add_test(NAME plugin_shell_e2e COMMAND plugin_shell_e2e_test)
    set_tests_properties(plugin_shell_e2e PROPERTIES TIMEOUT 300)
endif()

# A plug-in test against feed servers on 127.0.0.1 in its own process: plugin_<name>_test built
# from <name>_test.cpp and linked with the libraries after name, run as plugin_<name>.
function(fm_feed_server_plugin_test name)
    add_executable(plugin_${name}_test ${CMAKE_CURRENT_LIST_DIR}/${name}_test.cpp
                   ${CMAKE_SOURCE_DIR}/tests/system/feed_server.cpp)
    target_link_libraries(plugin_${name}_test PRIVATE fm_plugin_test_support fm_check ws2_32
                          ${ARGN})
    add_test(NAME plugin_${name} COMMAND plugin_${name}_test)
    set_tests_properties(plugin_${name} PROPERTIES TIMEOUT 120)
endfunction()

if(EXISTS ${CMAKE_SOURCE_DIR}/shell/shell_record.h)
    # Several feeds in one window.
    fm_feed_server_plugin_test(feed_view)

    # Keys through the window and the list as a screen reader reads it.
    fm_feed_server_plugin_test(keyboard_reader oleacc oleaut32 ole32 uuid)
    set_tests_properties(plugin_keyboard_reader PROPERTIES RUN_SERIAL TRUE)

    # The hide and highlight filters and the new-items sound.
    fm_feed_server_plugin_test(filters)
    add_executable(full_screen_window ${CMAKE_CURRENT_LIST_DIR}/full_screen_window.cpp)
    add_dependencies(plugin_filters_test full_screen_window)

    # An item's tip formatted from its feed's saved copy.
    fm_feed_server_plugin_test(formatted_tip)
endif()
