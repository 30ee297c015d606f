# Quillon's version, read from res/version.h (the about box's) before project() takes
# it, so that the packages and the Windows version record show what the program shows.
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/res/version.h _version_line REGEX "^#define QUILLON_VERSION ")
if(NOT _version_line MATCHES "^#define QUILLON_VERSION \"([0-9]+\\.[0-9]+(\\.[0-9]+)?)\"$")
  message(FATAL_ERROR "res/version.h: no line #define QUILLON_VERSION \"MAJOR.MINOR[.PATCH]\"")
endif()
set(QUILLON_VERSION ${CMAKE_MATCH_1})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/res/version.h)
