set(FM_FEED_SOURCES
    feed/fetch.cpp
    feed/http_fetch.cpp
    feed/winhttp_fetch.cpp
    feed/update_worker.cpp)
