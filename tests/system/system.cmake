# System tests: blackbox.exe with the real FeedMarquee.dll, driven through the shell's control
# channel against a feed server on 127.0.0.1, observed by the probe plug-in in the shell's process.
add_library(system_probe SHARED ${CMAKE_CURRENT_LIST_DIR}/system_probe.cpp)
set_target_properties(system_probe PROPERTIES PREFIX "")
target_link_libraries(system_probe PRIVATE blackbox_import user32 comctl32)

add_executable(system_tests
    ${CMAKE_CURRENT_LIST_DIR}/system_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/feed_server.cpp
    ${CMAKE_SOURCE_DIR}/feed/headline_cache.cpp
    ${CMAKE_SOURCE_DIR}/feed/headline_cache_win32.cpp)
target_link_libraries(system_tests PRIVATE bb_control_driver fm_check ws2_32 z)
add_dependencies(system_tests blackbox FeedMarquee system_probe)

# One ctest entry per scenario, so each reports on its own. They move the mouse and rely on what
# lies under it, so no other test may run beside them.
foreach(scenario
        first_start_creates_the_settings_and_shows_the_feed_then_the_failure
        hover_shows_the_description_and_a_double_click_opens_only_web_links
        the_menu_matches_its_tables_and_settings_are_saved_and_reloaded
        quitting_during_a_stalled_download_is_prompt_and_keeps_the_window_place
        saved_headlines_show_at_once_and_updates_are_conditional_and_kept_on_failure)
    add_test(NAME system_${scenario} COMMAND system_tests ${scenario})
    set_tests_properties(system_${scenario} PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)
endforeach()
