# Run by cpack on the Debian package it has made (CPACK_POST_BUILD_SCRIPTS). cpack gives
# each member of the package's ar archive (debian-binary, control.tar.gz, data.tar.gz)
# the mode its file had on disk, that is whatever the builder's umask left, so that a
# builder with umask 002 gets other bytes; each member is given 644 here, as dpkg-deb
# writes them. A member's header is 60 bytes of text after the archive's 8: the mode in
# the 8 at 40, the size in the 10 at 48, "`\n" at 58; the next member starts on an even
# offset.
foreach(_package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _package MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE "${_package}" _end)
  set(_offset 8)
  while(_offset LESS _end)
    file(READ "${_package}" _header OFFSET ${_offset} LIMIT 60)
    string(SUBSTRING "${_header}" 48 10 _size)
    string(STRIP "${_size}" _size)
    string(LENGTH "${_header}" _length)
    if(NOT _length EQUAL 60 OR NOT _header MATCHES "`\n$" OR NOT _size MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${_package}: no ar member header at byte ${_offset}")
    endif()
    math(EXPR _mode_at "${_offset} + 40")
    execute_process(COMMAND printf "100644  "
      COMMAND dd "of=${_package}" bs=1 seek=${_mode_at} conv=notrunc status=none
      RESULT_VARIABLE _status)
    if(NOT _status EQUAL 0)
      message(FATAL_ERROR "${_package}: could not set the mode of the ar member at byte ${_offset}")
    endif()
    math(EXPR _offset "${_offset} + 60 + ${_size} + ${_size} % 2")
  endwhile()
endforeach()
