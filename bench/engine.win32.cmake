# The engine benchmark (prints figures): scripts/wine-run.sh build/win32/engine_bench.exe
add_executable(engine_bench ${CMAKE_SOURCE_DIR}/bench/engine_bench.cpp)
target_link_libraries(engine_bench PRIVATE fm_plugin fm_test_server bb_core)
