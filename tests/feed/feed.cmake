# Tests of the HTTP client and the update engine and its glue, against a server thread on 127.0.0.1.
add_library(fm_test_server STATIC ${CMAKE_CURRENT_LIST_DIR}/test_server.cpp)
target_link_libraries(fm_test_server PUBLIC wsock32)

add_executable(fetch_test ${CMAKE_CURRENT_LIST_DIR}/fetch_test.cpp)
target_link_libraries(fetch_test PRIVATE fm_plugin fm_test_server fm_check bb_core)
add_test(NAME fetch_test COMMAND fetch_test)
set_tests_properties(fetch_test PROPERTIES TIMEOUT 120)

add_executable(update_worker_test ${CMAKE_CURRENT_LIST_DIR}/update_worker_test.cpp)
target_link_libraries(update_worker_test PRIVATE fm_plugin fm_test_server fm_temp_folder fm_check bb_core)
add_test(NAME update_worker_test COMMAND update_worker_test)
set_tests_properties(update_worker_test PROPERTIES TIMEOUT 180)

add_executable(feed_engine_test ${CMAKE_CURRENT_LIST_DIR}/feed_engine_test.cpp)
target_link_libraries(feed_engine_test PRIVATE fm_plugin fm_test_server fm_temp_folder fm_check bb_core)
add_test(NAME feed_engine_test COMMAND feed_engine_test)
set_tests_properties(feed_engine_test PROPERTIES TIMEOUT 120)

# fetchFeed through both clients against the feed servers of feed_test_server.py (plain http and
# https with certificates made by the openssl command, their authority trusted in the test prefix
# by trust_root.exe); run-with-feed-servers.sh starts and stops them around the program.
add_executable(trust_root ${CMAKE_CURRENT_LIST_DIR}/trust_root.cpp)
target_link_libraries(trust_root PRIVATE crypt32)
add_executable(fetch_feed_test ${CMAKE_CURRENT_LIST_DIR}/fetch_feed_test.cpp)
target_link_libraries(fetch_feed_test PRIVATE fm_plugin fm_test_server fm_check bb_core psapi)
add_dependencies(fetch_feed_test trust_root)
add_test(NAME fetch_feed_test
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-with-feed-servers.sh ${CMAKE_BINARY_DIR}/test-certificates
            $<TARGET_FILE:trust_root> $<TARGET_FILE:fetch_feed_test>)
set_tests_properties(fetch_feed_test PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)

# https fetches through a DLL unloaded the moment they return, whole and stopped; the probe DLL
# holds the fetch code and sits beside the test program.
add_library(fetch_unload_probe SHARED ${CMAKE_CURRENT_LIST_DIR}/unload_probe.cpp)
set_target_properties(fetch_unload_probe PROPERTIES PREFIX "")
target_link_libraries(fetch_unload_probe PRIVATE fm_plugin bb_core)
add_executable(fetch_unload_test ${CMAKE_CURRENT_LIST_DIR}/unload_test.cpp)
target_link_libraries(fetch_unload_test PRIVATE fm_check)
add_dependencies(fetch_unload_test fetch_unload_probe trust_root)
add_test(NAME fetch_unload_test
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-with-feed-servers.sh ${CMAKE_BINARY_DIR}/test-certificates
            $<TARGET_FILE:trust_root> $<TARGET_FILE:fetch_unload_test>)
set_tests_properties(fetch_unload_test PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)
