# Read by cpack once per generator: the installer's name says that it installs, so that
# it is not taken for the program itself beside the zip.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
