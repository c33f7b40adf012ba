# Tests of the feed content: lists, text decoding, the parser (table-driven and golden documents).
add_executable(content_feed_items_test feed_items_test.cpp)
target_link_libraries(content_feed_items_test fm_content fm_check)
add_test(NAME content_feed_items COMMAND content_feed_items_test)

add_executable(content_byte_scan_test byte_scan_test.cpp)
target_link_libraries(content_byte_scan_test fm_content fm_check)
add_test(NAME content_byte_scan COMMAND content_byte_scan_test)

add_executable(content_text_decoding_test text_decoding_test.cpp)
target_link_libraries(content_text_decoding_test fm_content fm_check)
add_test(NAME content_text_decoding COMMAND content_text_decoding_test)
if(FM_NATIVE)
    # The same tables through the portable loops, which processors without SSE2 run.
    add_executable(content_text_decoding_portable_test text_decoding_test.cpp
                   ${CMAKE_SOURCE_DIR}/content/text_decoding.cpp)
    target_compile_definitions(content_text_decoding_portable_test PRIVATE FM_NO_BLOCKS)
    target_link_libraries(content_text_decoding_portable_test fm_content fm_check)
    add_test(NAME content_text_decoding_portable COMMAND content_text_decoding_portable_test)
endif()

if(WIN32)
    add_executable(content_utf8_ansi_test utf8_ansi_test.cpp)
    target_link_libraries(content_utf8_ansi_test fm_content_win32 fm_check)
    add_test(NAME content_utf8_ansi COMMAND content_utf8_ansi_test)
endif()

# Whole documents through the inspector, compared with the expected JSON lines (golden files).
set(content_data ${CMAKE_CURRENT_SOURCE_DIR}/data)
set(content_inspect -DINSPECT=$<TARGET_FILE:feedmarquee-inspect>
                    "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}")
file(GLOB content_documents ${content_data}/*.http ${content_data}/*.xml ${content_data}/*.json)
foreach(document ${content_documents})
    get_filename_component(name ${document} NAME_WE)
    add_test(NAME content_document_${name}
             COMMAND ${CMAKE_COMMAND} ${content_inspect} -DDOCUMENT=${document}
                     -DEXPECTED=${document}.jsonl -P ${content_data}/check_inspector.cmake)
endforeach()
add_test(NAME content_inspect_standard_input
         COMMAND ${CMAKE_COMMAND} ${content_inspect} -DSTDIN=1
                 -DDOCUMENT=${content_data}/news_cdata.http
                 -DEXPECTED=${content_data}/news_cdata.http.jsonl
                 -P ${content_data}/check_inspector.cmake)
add_test(NAME content_inspect_missing_file
         COMMAND ${CMAKE_COMMAND} ${content_inspect} -DEXPECT_FAILURE=1
                 -DDOCUMENT=${content_data}/no-such-feed.xml
                 -P ${content_data}/check_inspector.cmake)

add_executable(content_rss_parser_test rss_parser_test.cpp)
target_link_libraries(content_rss_parser_test fm_content fm_check)
add_test(NAME content_rss_parser COMMAND content_rss_parser_test)
add_test(NAME content_inspect_bundled_sample
         COMMAND ${CMAKE_COMMAND} ${content_inspect}
                 -DDOCUMENT=${CMAKE_SOURCE_DIR}/tools/samples/example-news.xml
                 -DEXPECTED=${content_data}/sample_example_news.jsonl
                 -P ${content_data}/check_inspector.cmake)

add_executable(content_url_resolve_test url_resolve_test.cpp)
target_link_libraries(content_url_resolve_test fm_content fm_check)
add_test(NAME content_url_resolve COMMAND content_url_resolve_test)

add_executable(content_json_feed_test json_feed_test.cpp)
target_link_libraries(content_json_feed_test fm_content fm_check)
add_test(NAME content_json_feed COMMAND content_json_feed_test)

add_executable(content_short_date_test short_date_test.cpp)
target_link_libraries(content_short_date_test fm_content fm_check)
add_test(NAME content_short_date COMMAND content_short_date_test)

add_executable(content_opml_test opml_test.cpp)
target_link_libraries(content_opml_test fm_content fm_check)
add_test(NAME content_opml COMMAND content_opml_test)

add_executable(content_merged_items_test merged_items_test.cpp)
target_link_libraries(content_merged_items_test fm_content fm_check)
add_test(NAME content_merged_items COMMAND content_merged_items_test)

# The fast steps for the usual tags and references against the general steps alone: a second copy
# of the decoder built without them, under other names, on generated descriptions.
add_executable(content_text_decoding_steps_test text_decoding_steps_test.cpp
               general_steps_decoding.cpp)
target_link_libraries(content_text_decoding_steps_test fm_content fm_check)
add_test(NAME content_text_decoding_steps COMMAND content_text_decoding_steps_test)
if(FM_NATIVE)
    # The same through the portable loops.
    add_executable(content_text_decoding_steps_portable_test text_decoding_steps_test.cpp
                   general_steps_decoding.cpp ${CMAKE_SOURCE_DIR}/content/text_decoding.cpp)
    target_compile_definitions(content_text_decoding_steps_portable_test PRIVATE FM_NO_BLOCKS)
    target_link_libraries(content_text_decoding_steps_portable_test fm_content fm_check)
    add_test(NAME content_text_decoding_steps_portable
             COMMAND content_text_decoding_steps_portable_test)
endif()
