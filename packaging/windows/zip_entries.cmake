# Run by cpack on the packages it has made (CPACK_POST_BUILD_SCRIPTS). The zip's entries
# as cpack writes them carry the builder's user and group ids and their times in the
# builder's time zone; strip-nondeterminism writes them again in the order of their
# names, with no owner and the time SOURCE_DATE_EPOCH (cpack_options.cmake) in UTC.
foreach(_package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _package MATCHES "\\.zip$")
    continue()
  endif()
  find_program(_strip_nondeterminism strip-nondeterminism)
  if(NOT _strip_nondeterminism)
    message(FATAL_ERROR "strip-nondeterminism is not installed (tools/install-deps --package): "
                        "the zip would carry its builder's user id and time zone")
  endif()
  set(_timestamp "")
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(_timestamp --timestamp $ENV{SOURCE_DATE_EPOCH})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
      ${_strip_nondeterminism} --type zip ${_timestamp} ${_package}
    RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "strip-nondeterminism failed on ${_package}")
  endif()
endforeach()
