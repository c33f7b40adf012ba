# The settings file's line work on bytes: portable, in both builds.
add_executable(settings_text_test ${CMAKE_CURRENT_LIST_DIR}/settings_text_test.cpp)
target_link_libraries(settings_text_test PRIVATE fm_settings_text fm_check)
add_test(NAME plugin_settings_text COMMAND settings_text_test)
set_tests_properties(plugin_settings_text PROPERTIES TIMEOUT 60)
