# The parse of one saved response in the shipped build: scripts/bench.sh runs it under Wine
# beside the native build of the same program.
add_executable(parse_file_bench ${CMAKE_SOURCE_DIR}/bench/parse_file_bench.cpp)
target_link_libraries(parse_file_bench PRIVATE fm_content)
