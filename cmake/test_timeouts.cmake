# Gives every test of the calling directory that has no TIMEOUT of its own one of the given
# seconds, so that a test caught in an endless loop fails instead of holding the whole run.
function(fm_default_test_timeout seconds)
    get_property(tests DIRECTORY PROPERTY TESTS)
    foreach(test ${tests})
        get_test_property(${test} TIMEOUT timeout)
        if(NOT timeout)
            set_tests_properties(${test} PROPERTIES TIMEOUT ${seconds})
        endif()
    endforeach()
endfunction()
