# Build-time identity of the library: one generated header that every place
# showing a version, date or compiler reads from.

# The build date is the date of the sources, not of the build, so that two
# builds of one commit give the same module and configuring again rebuilds
# nothing: SOURCE_DATE_EPOCH when set, else the date (UTC) of the commit
# configured. TQ_BUILD_SOURCE is `git describe` of that commit, or "unknown".
find_package(Git QUIET)
set(TQ_BUILD_SOURCE "unknown")
if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
    if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
        execute_process(COMMAND "${GIT_EXECUTABLE}" log -1 --format=%ct
                        WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                        OUTPUT_VARIABLE _tq_commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE _tq_git_result ERROR_QUIET)
        if(_tq_git_result EQUAL 0 AND _tq_commit_time MATCHES "^[0-9]+$")
            set(ENV{SOURCE_DATE_EPOCH} "${_tq_commit_time}")
        endif()
    endif()
    execute_process(COMMAND "${GIT_EXECUTABLE}" describe --tags --always
                    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                    OUTPUT_VARIABLE _tq_describe OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE _tq_git_result ERROR_QUIET)
    if(_tq_git_result EQUAL 0 AND NOT _tq_describe STREQUAL "")
        set(TQ_BUILD_SOURCE "${_tq_describe}")
    endif()
endif()
string(TIMESTAMP TQ_BUILD_MONTH "%b" UTC)
string(TIMESTAMP TQ_BUILD_DAY "%d" UTC)
string(TIMESTAMP TQ_BUILD_YEAR "%Y" UTC)
string(TIMESTAMP TQ_BUILD_TIME "%H:%M:%S" UTC)
# The day is blank-padded to two places, as compilers write their own build date.
string(REGEX REPLACE "^0" " " TQ_BUILD_DAY "${TQ_BUILD_DAY}")
set(TQ_BUILD_DATE "${TQ_BUILD_MONTH} ${TQ_BUILD_DAY} ${TQ_BUILD_YEAR}")

string(REPLACE "." ";" _tq_cc_parts "${CMAKE_CXX_COMPILER_VERSION}")
list(GET _tq_cc_parts 0 _tq_cc_major)
list(LENGTH _tq_cc_parts _tq_cc_count)
set(_tq_cc_minor 0)
if(_tq_cc_count GREATER 1)
    list(GET _tq_cc_parts 1 _tq_cc_minor)
endif()
math(EXPR TQ_COMPILER_NUMBER "${_tq_cc_major} * 100 + ${_tq_cc_minor}")
set(TQ_COMPILER_TEXT
    "${CMAKE_CXX_COMPILER_ID} C++ ${CMAKE_CXX_COMPILER_VERSION} (${CMAKE_SYSTEM_PROCESSOR} ${CMAKE_SYSTEM_NAME})")

set(TQ_GENERATED_INCLUDE_DIR "${CMAKE_CURRENT_BINARY_DIR}/generated")
configure_file("${CMAKE_CURRENT_LIST_DIR}/kvversion.h.in"
               "${TQ_GENERATED_INCLUDE_DIR}/kvversion.h" @ONLY)
