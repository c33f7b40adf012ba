set(FM_FEED_SOURCES
    feed/http_fetch.cpp
    feed/update_worker.cpp)
# The portable response stage (status line, headers, chunks, gzip/deflate), built natively too.
set(FM_HTTP_SOURCES
    feed/http_response.cpp)
