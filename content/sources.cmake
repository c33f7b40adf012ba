set(FM_CONTENT_SOURCES
    content/feed_items.cpp
    content/key_hash.cpp
    content/stored_date.cpp
    content/stored_link.cpp
    content/byte_scan.cpp
    content/text_decoding.cpp
    content/text_decoding_sse2.cpp
    content/rss_parser.cpp
    content/atom_parser.cpp
    content/url_resolve.cpp
    content/feed_document.cpp
    content/json_feed.cpp
    content/json_repair.cpp
    content/opml.cpp
    content/text_buffer.cpp)
set(FM_CONTENT_WIN32_SOURCES
    content/utf8_ansi_win32.cpp)

# Named references, short dates and character sets: portable, then the system's side of the
# charset conversion (code pages on Windows; glibc iconv natively, which the fuzz build links too).
list(APPEND FM_CONTENT_SOURCES
    content/html_entities.cpp
    content/short_date.cpp
    content/charset.cpp)
# Item dates as points in time and the merge of several feeds' items.
list(APPEND FM_CONTENT_SOURCES
    content/item_time.cpp
    content/merged_items.cpp)
# The reading direction of a text (its first strong character), for drawing and tooltips.
list(APPEND FM_CONTENT_SOURCES
    content/text_direction.cpp)
list(APPEND FM_CONTENT_WIN32_SOURCES
    content/charset_win32.cpp)
# Descriptions formatted as their HTML says, made when a tooltip is about to show them.
list(APPEND FM_CONTENT_SOURCES
    content/formatted_description.cpp
    content/description_source.cpp)
set(FM_CONTENT_NATIVE_SOURCES
    content/charset_iconv.cpp)
if(FM_NATIVE)
    list(APPEND FM_CONTENT_SOURCES ${FM_CONTENT_NATIVE_SOURCES})
endif()
# Case and diacritics folding, and the hide and highlight filters of the shown items.
list(APPEND FM_CONTENT_SOURCES
    content/text_folding.cpp
    content/item_filter.cpp)
