# A status of the system layer that a caller drops is a compile-time warning.
#   cmake -DCOMPILER=<c++> -DROOT=<source root> -DSOURCE=<file> -P discarded_status.cmake
execute_process(COMMAND "${COMPILER}" -std=c++17 -fsyntax-only -Wunused-result "-I${ROOT}" "${SOURCE}"
                RESULT_VARIABLE compiled ERROR_VARIABLE output)
file(STRINGS "${SOURCE}" marked REGEX "// discarded$")
list(LENGTH marked expected)
string(REGEX MATCHALL "\\[-Wunused-result\\]" warned "${output}")
list(LENGTH warned found)
if(NOT compiled EQUAL 0 OR NOT found EQUAL expected)
  message(FATAL_ERROR "${found} of ${expected} dropped statuses warned about:\n${output}")
endif()
