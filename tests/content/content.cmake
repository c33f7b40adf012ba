# Tests of the feed content: lists, text decoding, the parser (table-driven and golden documents).
add_executable(content_feed_items_test feed_items_test.cpp)
target_link_libraries(content_feed_items_test fm_content fm_check)
add_test(NAME content_feed_items COMMAND content_feed_items_test)

add_executable(content_text_decoding_test text_decoding_test.cpp)
target_link_libraries(content_text_decoding_test fm_content fm_check)
add_test(NAME content_text_decoding COMMAND content_text_decoding_test)

if(WIN32)
    add_executable(content_utf8_ansi_test utf8_ansi_test.cpp)
    target_link_libraries(content_utf8_ansi_test fm_content_win32 fm_check)
    add_test(NAME content_utf8_ansi COMMAND content_utf8_ansi_test)
endif()
