# Display tests: painting and layout, the tooltip and placement, under Wine with the real GDI and
# common controls.
foreach(name painting tooltip placement script_text)
    add_executable(display_${name}_test ${CMAKE_CURRENT_LIST_DIR}/${name}_test.cpp)
    target_link_libraries(display_${name}_test PRIVATE fm_plugin bb_core fm_check)
    add_test(NAME display_${name} COMMAND display_${name}_test)
    set_tests_properties(display_${name} PROPERTIES TIMEOUT 120)
endforeach()
