# The saved-copy clean-up against real files and real links (made by the script, as Wine shows a
# link as a plain file), in the Windows build.
if(NOT FM_NATIVE)
    add_executable(feed_file_removal_test ${CMAKE_CURRENT_LIST_DIR}/feed_file_removal_test.cpp
                   ${CMAKE_SOURCE_DIR}/feed/headline_cache.cpp
                   ${CMAKE_SOURCE_DIR}/feed/headline_cache_win32.cpp)
    target_link_libraries(feed_file_removal_test PRIVATE fm_http fm_check)
    add_test(NAME feed_file_removal
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-with-linked-feed-files.sh
                     $<TARGET_FILE:feed_file_removal_test>)
    set_tests_properties(feed_file_removal PROPERTIES TIMEOUT 120)
endif()
