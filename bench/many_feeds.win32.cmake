# A thousand favourites in one window (a program that prints figures, not a test): run it through
# scripts/bench-feeds.sh, which takes the median of several runs.
add_executable(many_feeds_bench ${CMAKE_SOURCE_DIR}/bench/many_feeds_bench.cpp
                                ${CMAKE_SOURCE_DIR}/tests/system/feed_server.cpp)
target_link_libraries(many_feeds_bench PRIVATE bb_control_driver ws2_32)
add_dependencies(many_feeds_bench blackbox FeedMarquee)
# Two folders below the build, as the shell driver finds the built shell from test programs.
set_target_properties(many_feeds_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                                  ${CMAKE_BINARY_DIR}/bench/many_feeds)
