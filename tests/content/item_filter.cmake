# The hide and highlight filters: case and diacritics folding in every script.
add_executable(content_item_filter_test item_filter_test.cpp)
target_link_libraries(content_item_filter_test fm_content fm_check)
add_test(NAME content_item_filter COMMAND content_item_filter_test)
set_tests_properties(content_item_filter PROPERTIES TIMEOUT 60)
# The folding tables are generated: they must be what the generator writes today.
if(FM_NATIVE)
    find_package(Python3 COMPONENTS Interpreter)
    if(Python3_FOUND)
        add_test(NAME content_text_folding_table
                 COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/gen_text_folding.py
                         --check ${CMAKE_SOURCE_DIR}/content/text_folding.inc)
        set_tests_properties(content_text_folding_table PROPERTIES TIMEOUT 120)
    endif()
endif()
