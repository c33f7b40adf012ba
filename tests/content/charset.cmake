# Character sets: golden files, in both builds (iconv natively, code pages under Wine).
add_executable(content_charset_test charset_test.cpp)
target_compile_definitions(content_charset_test PRIVATE
                           FM_CHARSET_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data/charset/")
if(WIN32)
    target_link_libraries(content_charset_test fm_content_win32 fm_check)
else()
    target_link_libraries(content_charset_test fm_content fm_check)
endif()
add_test(NAME content_charset COMMAND content_charset_test)
