# System tests: blackbox.exe with the real FeedMarquee.dll, driven through the shell's control
# channel against a feed server on 127.0.0.1, observed by the probe plug-in in the shell's process.
add_library(system_probe SHARED ${CMAKE_CURRENT_LIST_DIR}/system_probe.cpp)
set_target_properties(system_probe PROPERTIES PREFIX "")
target_link_libraries(system_probe PRIVATE blackbox_import user32 comctl32)

add_executable(system_tests
    ${CMAKE_CURRENT_LIST_DIR}/system_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/window_edges_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/system_run.cpp
    ${CMAKE_CURRENT_LIST_DIR}/feed_server.cpp
    ${CMAKE_SOURCE_DIR}/feed/headline_cache.cpp
    ${CMAKE_SOURCE_DIR}/feed/headline_cache_win32.cpp)
target_link_libraries(system_tests PRIVATE bb_control_driver fm_check fm_http ws2_32)
add_dependencies(system_tests blackbox FeedMarquee system_probe)

# One ctest entry per scenario, so each reports on its own. They move the mouse and rely on what
# lies under it, so no other test may run beside them.
foreach(scenario
        first_start_creates_the_settings_and_shows_the_feed_then_the_failure
        hover_shows_the_description_and_a_double_click_opens_only_web_links
        the_menu_matches_its_tables_and_settings_are_saved_and_reloaded
        quitting_during_a_stalled_download_is_prompt_and_keeps_the_window_place
        saved_headlines_show_at_once_and_updates_are_conditional_and_kept_on_failure
        a_feed_chosen_during_an_update_is_fetched_after_it_and_stored_without_the_old_title
        text_reaching_the_right_edge_keeps_its_last_letter_and_its_ellipsis
        couldnt_connect_says_why_underneath_and_without_an_address_where_to_set_one
        a_window_saved_off_every_screen_comes_back_at_start_and_after_a_reload
        a_hand_edit_of_the_settings_file_is_picked_up_and_survives_quitting)
    add_test(NAME system_${scenario} COMMAND system_tests ${scenario})
    set_tests_properties(system_${scenario} PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)
endforeach()

# Several feeds in one window: three feed servers, the shell restarted on the same folder.
add_executable(feeds_system_tests ${CMAKE_CURRENT_LIST_DIR}/feeds_system_test.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/system_run.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/feed_server.cpp)
target_link_libraries(feeds_system_tests PRIVATE bb_control_driver fm_check oleacc oleaut32 ole32
                      uuid ws2_32)
add_dependencies(feeds_system_tests blackbox FeedMarquee system_probe)
foreach(scenario
        feeds_together_and_in_turn_with_new_marks_kept_across_a_restart
        each_feed_its_own_interval_agent_words_and_mute_with_titles_in_every_script)
    add_test(NAME system_${scenario} COMMAND feeds_system_tests ${scenario})
    set_tests_properties(system_${scenario} PROPERTIES TIMEOUT 240 RUN_SERIAL TRUE)
endforeach()

# The plug-in over https, beside the TLS feed servers of tests/feed/feed_test_server.py.
add_executable(https_system_tests ${CMAKE_CURRENT_LIST_DIR}/https_system_test.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/system_run.cpp)
target_link_libraries(https_system_tests PRIVATE bb_control_driver fm_check fm_login_dialog_driver
                                                 advapi32)
add_dependencies(https_system_tests blackbox FeedMarquee system_probe trust_root)
foreach(scenario
        an_https_feed_reached_through_an_http_redirect_is_shown
        quitting_during_a_stalled_https_download_is_prompt
        a_private_feed_is_shown_after_a_login_given_in_the_dialog_and_kept_out_of_every_file)
    add_test(NAME system_${scenario}
        COMMAND ${CMAKE_SOURCE_DIR}/tests/feed/run-with-feed-servers.sh
                ${CMAKE_BINARY_DIR}/test-certificates $<TARGET_FILE:trust_root>
                $<TARGET_FILE:https_system_tests> ${scenario})
    set_tests_properties(system_${scenario} PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE)
endforeach()

# A screen reader in another process, reading the plug-in's window through oleacc.
add_executable(reader_system_test ${CMAKE_CURRENT_LIST_DIR}/reader_system_test.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/system_run.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/feed_server.cpp)
target_link_libraries(reader_system_test PRIVATE bb_control_driver fm_check oleacc oleaut32 ole32
                      uuid ws2_32)
add_dependencies(reader_system_test blackbox FeedMarquee system_probe)
add_test(NAME system_a_reader_in_another_process_reads_the_items_and_opens_one
         COMMAND reader_system_test)
set_tests_properties(system_a_reader_in_another_process_reads_the_items_and_opens_one
                     PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)
