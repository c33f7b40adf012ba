# Formatted descriptions: tables of HTML in, blocks out; hostile nesting and the size bounds.
add_executable(content_formatted_description_test formatted_description_test.cpp)
target_link_libraries(content_formatted_description_test fm_content fm_check)
add_test(NAME content_formatted_description COMMAND content_formatted_description_test)
set_tests_properties(content_formatted_description PROPERTIES TIMEOUT 120)
