# Writes the GoogleTest suites of a test program, one name a line, for the build's tests
# that run a suite at a time (tests/CMakeLists.txt, quillon_suite_tests). Run by the build
# after the program is linked:
#
#   cmake -D PROGRAM=test_x -D OUTPUT=test_x_suites.txt -P list_test_suites.cmake
#
# A suite whose every case is disabled is left out: its filter would run no test and pass.
execute_process(COMMAND "${PROGRAM}" --gtest_list_tests
                OUTPUT_VARIABLE _listing ERROR_VARIABLE _errors RESULT_VARIABLE _status TIMEOUT 60)
if(NOT _status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --gtest_list_tests failed (${_status}):\n${_errors}")
endif()

# Suite lines start at the margin ("Suite." and perhaps "  # TypeParam = ..."); their cases
# follow, indented. A name never holds a semicolon; a parameter's printed value may.
string(REPLACE ";" "" _listing "${_listing}")
string(REPLACE "\n" ";" _lines "${_listing}")
set(_suites "")
set(_suite "")
foreach(_line IN LISTS _lines)
  if(_line MATCHES "^([A-Za-z_][A-Za-z0-9_/]*)\\.( |$)")
    set(_suite "${CMAKE_MATCH_1}")
    if(_suite MATCHES "(^|/)DISABLED_")
      set(_suite "")
    endif()
  elseif(_suite AND _line MATCHES "^  ([A-Za-z0-9_/]+)" AND NOT CMAKE_MATCH_1 MATCHES "^DISABLED_")
    list(APPEND _suites "${_suite}")
    set(_suite "")
  endif()
endforeach()
if(NOT _suites)
  message(FATAL_ERROR "${PROGRAM} lists no suite with a case to run")
endif()
list(JOIN _suites "\n" _text)
file(WRITE "${OUTPUT}" "${_text}\n")
