# The paint benchmark (a program that prints figures, not a test): run it under Wine with
# scripts/wine-run.sh build/win32/paint_bench.exe.
add_executable(paint_bench ${CMAKE_SOURCE_DIR}/bench/paint_bench.cpp)
target_link_libraries(paint_bench PRIVATE fm_plugin bb_core)
