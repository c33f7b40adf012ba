# The named-reference table is generated: it must be what the generator writes today.
if(FM_NATIVE)
    find_package(Python3 COMPONENTS Interpreter)
    if(Python3_FOUND)
        add_test(NAME content_html_entities_table
                 COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/gen_html_entities.py
                         --check ${CMAKE_SOURCE_DIR}/content/html_entities.inc)
    endif()
endif()
