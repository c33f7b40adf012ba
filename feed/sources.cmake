set(FM_FEED_SOURCES
    feed/auth_hash_win32.cpp
    feed/bounded_call.cpp
    feed/feed_health.cpp
    feed/fetch.cpp
    feed/headline_cache.cpp
    feed/headline_cache_win32.cpp
    feed/http_fetch.cpp
    feed/login_store.cpp
    feed/idn_win32.cpp
    feed/update_schedule.cpp
    feed/feed_engine.cpp
    feed/seen_keys.cpp
    feed/winhttp_api.cpp
    feed/winhttp_fetch.cpp
    feed/worker_stack.cpp)
# The portable response stage (status line, headers, chunks, gzip/deflate), the preparation of
# addresses and the challenges and answers of logins, built natively too.
set(FM_HTTP_SOURCES
    feed/feed_address.cpp
    feed/http_auth.cpp
    feed/http_response.cpp)
