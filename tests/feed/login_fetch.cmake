# Logins through both clients against the login routes of feed_test_server.py, with the logins in
# the test prefix's Credential Manager.
if(NOT FM_NATIVE)
    add_executable(login_fetch_test ${CMAKE_CURRENT_LIST_DIR}/login_fetch_test.cpp)
    target_link_libraries(login_fetch_test PRIVATE fm_plugin fm_test_server fm_check bb_core)
    add_dependencies(login_fetch_test trust_root)
    add_test(NAME login_fetch_test
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-with-feed-servers.sh ${CMAKE_BINARY_DIR}/test-certificates
                $<TARGET_FILE:trust_root> $<TARGET_FILE:login_fetch_test>)
    set_tests_properties(login_fetch_test PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE)
endif()
