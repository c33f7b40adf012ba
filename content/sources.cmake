set(FM_CONTENT_SOURCES
    content/feed_items.cpp
    content/text_decoding.cpp
    content/html_entities.cpp
    content/short_date.cpp
    content/charset.cpp
    content/rss_parser.cpp)
set(FM_CONTENT_WIN32_SOURCES
    content/utf8_ansi_win32.cpp
    content/charset_win32.cpp)
# The system's side of convertToUtf8 in the native build (glibc iconv); the fuzz build links it too.
set(FM_CONTENT_NATIVE_SOURCES
    content/charset_iconv.cpp)
if(FM_NATIVE)
    list(APPEND FM_CONTENT_SOURCES ${FM_CONTENT_NATIVE_SOURCES})
endif()
