# The reading direction of a text, from its first strong character.
add_executable(content_text_direction_test text_direction_test.cpp)
target_link_libraries(content_text_direction_test fm_content fm_check)
add_test(NAME content_text_direction COMMAND content_text_direction_test)
set_tests_properties(content_text_direction PROPERTIES TIMEOUT 60)
