# The hot key's text and the selection's moves: portable, in both builds.
add_executable(keyboard_keys_test ${CMAKE_CURRENT_LIST_DIR}/keyboard_keys_test.cpp)
target_link_libraries(keyboard_keys_test PRIVATE fm_keyboard fm_check)
add_test(NAME plugin_keyboard_keys COMMAND keyboard_keys_test)
