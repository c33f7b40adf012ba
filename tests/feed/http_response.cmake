# Tests of the response stage, built natively (under the sanitizers) and for Windows.
add_executable(http_response_test ${CMAKE_CURRENT_LIST_DIR}/http_response_test.cpp)
target_link_libraries(http_response_test PRIVATE fm_http fm_check)
target_compile_definitions(http_response_test PRIVATE
                           FM_RESPONSE_DATA="${CMAKE_CURRENT_LIST_DIR}/data/responses")
add_test(NAME http_response COMMAND http_response_test)
set_tests_properties(http_response PROPERTIES TIMEOUT 300)
