# Build-time identity of the library: one generated header that every place
# showing a version, date or compiler reads from.

string(TIMESTAMP TQ_BUILD_MONTH "%b")
string(TIMESTAMP TQ_BUILD_DAY "%d")
string(TIMESTAMP TQ_BUILD_YEAR "%Y")
string(TIMESTAMP TQ_BUILD_TIME "%H:%M:%S")
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
