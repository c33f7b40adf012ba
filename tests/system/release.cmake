# The release: the archive scripts/package.sh writes from this build (the same bytes after a new
# link), the functions the DLL imports against the oldest Windows it supports, and the archive
# installed into a shell's folder as a user would.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME release_archive_holds_the_dll_and_texts_and_is_reproducible
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/packaging_test.py
                 ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
# It links the DLL anew, which no other test may load meanwhile.
set_tests_properties(release_archive_holds_the_dll_and_texts_and_is_reproducible PROPERTIES
                     TIMEOUT 300 RUN_SERIAL TRUE FIXTURES_SETUP release_archive)

add_test(NAME release_imports_exist_on_the_oldest_supported_windows
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/imports_test.py
                 $<TARGET_FILE:FeedMarquee>)
set_tests_properties(release_imports_exist_on_the_oldest_supported_windows PROPERTIES TIMEOUT 60)

add_executable(install_system_test ${CMAKE_CURRENT_LIST_DIR}/install_system_test.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/feed_server.cpp)
target_link_libraries(install_system_test PRIVATE bb_control_driver fm_check ws2_32 version)
add_dependencies(install_system_test blackbox system_probe)
add_test(NAME release_installed_from_the_archive_shows_a_feed_and_is_removed_cleanly
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/install_test.py
                 ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${CMAKE_CROSSCOMPILING_EMULATOR}
                 $<TARGET_FILE:install_system_test>)
set_tests_properties(release_installed_from_the_archive_shows_a_feed_and_is_removed_cleanly
                     PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE FIXTURES_REQUIRED release_archive)
