set(FM_FEED_SOURCES
    feed/http_fetch.cpp
    feed/update_worker.cpp)
