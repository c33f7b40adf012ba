# The hide and highlight filters: case and diacritics folding in every script.
add_executable(content_item_filter_test item_filter_test.cpp)
target_link_libraries(content_item_filter_test fm_content fm_check)
add_test(NAME content_item_filter COMMAND content_item_filter_test)
set_tests_properties(content_item_filter PROPERTIES TIMEOUT 60)
