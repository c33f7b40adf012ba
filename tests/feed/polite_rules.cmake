# The rules of polite updates: the schedule, the health line, the saved copy's and the seen keys'
# formats (portable,
# also under the sanitizers natively) and, for Windows, the cache file itself.
add_executable(polite_rules_test ${CMAKE_CURRENT_LIST_DIR}/polite_rules_test.cpp)
if(FM_NATIVE)
    add_library(fm_polite_rules STATIC ${CMAKE_SOURCE_DIR}/feed/update_schedule.cpp
                                       ${CMAKE_SOURCE_DIR}/feed/feed_health.cpp
                                       ${CMAKE_SOURCE_DIR}/feed/headline_cache.cpp
                                       ${CMAKE_SOURCE_DIR}/feed/seen_keys.cpp)
    target_link_libraries(fm_polite_rules PUBLIC fm_http fm_content)
    if(NOT TARGET fm_check)
        add_library(fm_check STATIC ${CMAKE_SOURCE_DIR}/tests/support/check.cpp)
    endif()
    target_link_libraries(polite_rules_test PRIVATE fm_polite_rules fm_check)
else()
    target_link_libraries(polite_rules_test PRIVATE fm_plugin fm_temp_folder fm_check bb_core)
endif()
add_test(NAME polite_rules_test COMMAND polite_rules_test)
set_tests_properties(polite_rules_test PROPERTIES TIMEOUT 120)
