# The https fetch benchmark (a program that prints figures, not a test): scripts/bench-https.sh
# runs it under Wine beside a loopback server and native curl.
add_executable(https_fetch_bench ${CMAKE_SOURCE_DIR}/bench/https_fetch_bench.cpp)
target_link_libraries(https_fetch_bench PRIVATE fm_plugin bb_core psapi)
