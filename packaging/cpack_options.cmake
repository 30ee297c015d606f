# Read by cpack before each generator (CPACK_PROJECT_CONFIG_FILE).
#
# The packages carry no time of their own making: every file time in them is the date of
# the sources' last commit, as SOURCE_DATE_EPOCH, which cpack's archives and the scripts
# below read (an epoch already in the environment wins). Taken here, when the package is
# made, and not when the build was configured, so that a build folder made before the
# last commit still gives the package of that commit.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_QUILLON_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE _epoch OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _status ERROR_VARIABLE _git_error)
  if(_status EQUAL 0 AND _epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${_epoch})
  else()
    message(WARNING "${CPACK_QUILLON_SOURCE_DIR} has no git history to date the package by "
                    "(${_git_error}); set SOURCE_DATE_EPOCH, or the package carries the times "
                    "of this build and cannot be compared with another")
  endif()
endif()

# The installer's name says that it installs, so that it is not taken for the program
# itself beside the zip.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
