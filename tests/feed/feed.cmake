# Tests of the HTTP client and the update worker, against a server thread on 127.0.0.1.
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
