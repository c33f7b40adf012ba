# The list memory benchmark (prints figures): scripts/wine-run.sh build/win32/list_memory_bench.exe
add_executable(list_memory_bench ${CMAKE_SOURCE_DIR}/bench/list_memory_bench.cpp)
target_link_libraries(list_memory_bench PRIVATE fm_content fm_content_win32 psapi)
