# Download speed of fetchUrl against a bare Winsock receive loop, run under Wine
# (scripts/bench-fetch.sh adds a native server and curl for context).
add_executable(fetch_bench ${CMAKE_SOURCE_DIR}/bench/fetch_bench.cpp)
target_link_libraries(fetch_bench PRIVATE fm_plugin bb_core wsock32)
