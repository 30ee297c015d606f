# Run by cpack on the staging folder before each package is made (CPACK_PRE_BUILD_SCRIPTS):
# every staged file and folder gets the time SOURCE_DATE_EPOCH (cpack_options.cmake), as
# the installer keeps each file's time and the install step copies the build's own times.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  return()
endif()
file(GLOB_RECURSE _staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
execute_process(COMMAND touch --no-dereference --date=@$ENV{SOURCE_DATE_EPOCH} ${_staged}
  "${CPACK_TEMPORARY_DIRECTORY}" RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
  message(FATAL_ERROR "could not set the staged files' times to SOURCE_DATE_EPOCH")
endif()
