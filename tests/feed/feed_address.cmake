# When two feed addresses name the same feed: portable, in both builds.
add_executable(feed_address_test ${CMAKE_CURRENT_LIST_DIR}/feed_address_test.cpp)
target_link_libraries(feed_address_test PRIVATE fm_http fm_check)
add_test(NAME feed_address COMMAND feed_address_test)
set_tests_properties(feed_address PROPERTIES TIMEOUT 60)
