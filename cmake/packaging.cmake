# Installing and packaging Quillon. On Linux: `quillon`, its desktop entry, its icon in
# the desktop's icon theme and its manual page (`cmake --install`), and a Debian package
# of them (`cpack` in build/default). For Windows: Quillon.exe with its Sound folder and a
# note on starting it, as a zip and as an installer built with makensis (`cpack` in
# build/win32). Included at the end of the top-level CMakeLists.txt and of the Windows
# branch; the files it installs are in packaging/.
set(_packaging ${PROJECT_SOURCE_DIR}/packaging)

set(CPACK_PACKAGE_VENDOR "The Quillon developers")
set(CPACK_PACKAGE_CONTACT "The Quillon developers <quillon@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Korean Windows Mobile handset, emulated, with the Quillon utility")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The same sources give the same packages, byte for byte (tools/reproducible): their
# times are the last commit's date, taken by cpack from the sources' git history.
set(CPACK_QUILLON_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${_packaging}/cpack_options.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${_packaging}/staged_times.cmake)

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  install(TARGETS Quillon RUNTIME DESTINATION .)
  file(GLOB _sounds CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/sound/*.wav)
  install(FILES ${_sounds} DESTINATION Sound)
  configure_file(${_packaging}/windows/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_FILE_NAME Quillon-${PROJECT_VERSION}-win64)
  set(CPACK_POST_BUILD_SCRIPTS ${_packaging}/windows/zip_entries.cmake)
  # CPack takes NSIS.template.in from here: the installer's own script.
  set(CPACK_MODULE_PATH ${_packaging}/windows)
  set(CPACK_QUILLON_ICON ${CMAKE_CURRENT_BINARY_DIR}/res/quillon.ico)
  set(CPACK_QUILLON_VERSION_QUAD ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0)
  include(CPack)
  return()
endif()

if(NOT TARGET quillon)
  return()
endif()
include(GNUInstallDirs)

install(TARGETS quillon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_packaging}/quillon.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

set(_packaging_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)

# The icon at the theme's sizes, drawn by the same tool and from the same shapes as the
# program's icon resource.
set(_hicolor ${_packaging_out}/hicolor)
set(_icons "")
foreach(_size 16 22 24 32 48 64 128 256)
  list(APPEND _icons ${_hicolor}/${_size}x${_size}/apps/quillon.png)
endforeach()
add_custom_command(OUTPUT ${_icons}
  COMMAND quillon_draw_images --hicolor ${_hicolor}
  DEPENDS quillon_draw_images
  COMMENT "Drawing Quillon's icon for the desktop")

# The manual page and the changelog as Debian keeps them: compressed, without a
# timestamp in the gzip header, so that two builds give the same package.
configure_file(${_packaging}/quillon.1.in ${_packaging_out}/quillon.1 @ONLY)
add_custom_command(OUTPUT ${_packaging_out}/quillon.1.gz ${_packaging_out}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${_packaging}/changelog ${_packaging_out}/changelog
  COMMAND gzip -9nkf ${_packaging_out}/quillon.1 ${_packaging_out}/changelog
  DEPENDS ${_packaging_out}/quillon.1 ${_packaging}/changelog
  COMMENT "Compressing the manual page and the changelog")
add_custom_target(quillon_desktop_files ALL
  DEPENDS ${_icons} ${_packaging_out}/quillon.1.gz ${_packaging_out}/changelog.gz)

if(TARGET test_packaging)
  # The tests find the icons the way they find the phone: through the build's own object
  # of paths (tests/common/build_paths.h), not a compile flag.
  file(GENERATE OUTPUT ${_packaging_out}/hicolor_dir.cpp CONTENT
"// Written by the build: where it drew the desktop's icons.
#include \"common/build_paths.h\"
const char* const qtest::kHicolorDir = \"${_hicolor}\";
")
  target_sources(test_build_paths PRIVATE ${_packaging_out}/hicolor_dir.cpp)
  add_dependencies(test_packaging quillon_desktop_files)
endif()

install(DIRECTORY ${_hicolor} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${_packaging_out}/quillon.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_packaging}/copyright ${_packaging_out}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillon)

# The changelog's newest entry is the version the package says it is.
file(STRINGS ${_packaging}/changelog _newest LIMIT_COUNT 1)
if(NOT _newest MATCHES "^quillon \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: its first entry is not for version ${PROJECT_VERSION} "
                      "(res/version.h); add one")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_NAME quillon)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The package's own members get one mode, whatever the builder's umask.
set(CPACK_POST_BUILD_SCRIPTS ${_packaging}/deb_members.cmake)
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillon is a resident utility for a Korean Windows Mobile 5.0 Smartphone
handset: it reminds the user of missed calls and unread SMS, locks the keypad
after idle time and blocks the carrier's 3G data while letting the carrier's
mail client through.
This package runs it on an emulated handset: in the terminal, in a window of
the desktop, or headless, driven by handset commands, with a registry tool, a
trace converter and a random tester beside it.")
# The libraries `quillon` links come from dpkg-shlibdeps; the phone's screen needs its
# Korean font, and the terminal phone ncursesw, which it loads when it starts
# (curses_library.h), named by the package that holds it on the build machine.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(_depends fonts-baekmuk)
execute_process(COMMAND dpkg-query -S "*/${CMAKE_LIBRARY_ARCHITECTURE}/libncursesw.so.6"
  OUTPUT_VARIABLE _owner ERROR_VARIABLE _owner_error RESULT_VARIABLE _owner_status)
if(_owner_status EQUAL 0 AND _owner MATCHES "^([^:,]+)")
  list(APPEND _depends ${CMAKE_MATCH_1})
else()
  message(WARNING "No installed package holds libncursesw.so.6; the Debian package will not depend on it")
endif()
list(JOIN _depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# Loaded only when something first needs them (sdl_library.h, pixel_libraries.cpp,
# sdl_video.h): SDL2 for sound and the window, FreeType for the screen in pixels, libpng
# for screenshots; and the window panel's font. Without them the headless and terminal
# phones run, and the window and screenshots say what is missing. Each is named by the
# package that holds it on the build machine.
set(_recommends fonts-dejavu-core)
foreach(_soname libSDL2-2.0.so.0 libfreetype.so.6 libpng16.so.16)
  execute_process(COMMAND dpkg-query -S /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/${_soname}
    OUTPUT_VARIABLE _owner ERROR_VARIABLE _owner_error RESULT_VARIABLE _owner_status)
  if(NOT _owner_status EQUAL 0 OR NOT _owner MATCHES "^([^:,]+)")
    message(WARNING "No installed package holds ${_soname}; the Debian package will not recommend it")
    continue()
  endif()
  list(APPEND _recommends ${CMAKE_MATCH_1})
endforeach()
list(JOIN _recommends ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)
include(CPack)
