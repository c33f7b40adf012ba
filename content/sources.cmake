set(FM_CONTENT_SOURCES
    content/feed_items.cpp
    content/text_decoding.cpp
    content/rss_parser.cpp
    content/atom_parser.cpp
    content/url_resolve.cpp)
set(FM_CONTENT_WIN32_SOURCES
    content/utf8_ansi_win32.cpp)
