# The preparation of addresses (portable): natively under the sanitizers, with libidn2 for host
# names, and for Windows with the system's conversion.
add_executable(feed_address_test ${CMAKE_CURRENT_LIST_DIR}/feed_address_test.cpp)
if(FM_NATIVE)
    target_sources(feed_address_test PRIVATE ${CMAKE_SOURCE_DIR}/feed/idn_native.cpp)
    target_link_libraries(feed_address_test PRIVATE fm_http fm_check idn2)
else()
    target_sources(feed_address_test PRIVATE ${CMAKE_SOURCE_DIR}/feed/idn_win32.cpp)
    target_link_libraries(feed_address_test PRIVATE fm_http fm_check)
endif()
add_test(NAME feed_address COMMAND feed_address_test)
set_tests_properties(feed_address PROPERTIES TIMEOUT 120)
