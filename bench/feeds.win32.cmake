# Fifty feeds in one window (a program that prints figures, not a test): run it through
# scripts/bench-feeds.sh, which answers its questions about the shell's resident memory.
add_executable(feeds_bench ${CMAKE_SOURCE_DIR}/bench/feeds_bench.cpp
                           ${CMAKE_SOURCE_DIR}/tests/system/feed_server.cpp)
target_link_libraries(feeds_bench PRIVATE bb_control_driver ws2_32)
add_dependencies(feeds_bench blackbox FeedMarquee system_probe)
# Two folders below the build, as the shell driver finds the built shell from test programs.
set_target_properties(feeds_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench/feeds)
