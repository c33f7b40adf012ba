# Runs feedmarquee-inspect over DOCUMENT (through EMULATOR when cross-compiled; from standard input
# when STDIN is set) and compares its output with EXPECTED byte for byte. A file DOCUMENT.args
# holds further inspector arguments for that document (such as --base URL), separated by blanks. With EXPECT_FAILURE, the
# run must instead fail with status 1, a one-line message on standard error and no output.
set(command ${INSPECT})
if(EMULATOR)
    set(command ${EMULATOR} ${INSPECT})
endif()
if(EXISTS "${DOCUMENT}.args")
    file(READ "${DOCUMENT}.args" arguments)
    string(STRIP "${arguments}" arguments)
    separate_arguments(arguments UNIX_COMMAND "${arguments}")
    list(APPEND command ${arguments})
endif()
if(STDIN)
    execute_process(COMMAND ${command} - INPUT_FILE ${DOCUMENT}
                    OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status)
else()
    execute_process(COMMAND ${command} ${DOCUMENT}
                    OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status)
endif()

if(EXPECT_FAILURE)
    string(REGEX MATCHALL "\n" lines "${errors}")
    list(LENGTH lines lineCount)
    if(NOT status EQUAL 1 OR NOT actual STREQUAL "" OR NOT lineCount EQUAL 1)
        message(FATAL_ERROR "expected status 1 and one line on standard error, got status "
                            "${status}, output '${actual}', errors '${errors}'")
    endif()
    return()
endif()

if(NOT status EQUAL 0)
    message(FATAL_ERROR "feedmarquee-inspect failed with ${status}: ${errors}")
endif()
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
    get_filename_component(name ${EXPECTED} NAME)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.actual "${actual}")
    message(FATAL_ERROR "output differs from ${EXPECTED}; see: diff -u ${EXPECTED} "
                        "${CMAKE_CURRENT_BINARY_DIR}/${name}.actual")
endif()
