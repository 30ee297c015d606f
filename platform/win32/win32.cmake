# The Win32 build: the program's own sources (app/, watch/, dialogs/, res/) over the
# desktop's headers and libraries and the framework of platform/framework/ and
# platform/win32/, linked statically into Quillon.exe, with the sounds in a Sound folder
# beside it. Included from the top-level CMakeLists.txt when the target system is Windows.
add_compile_options(-Wall -Wextra -Wno-unused-parameter)
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
enable_language(RC)

# The icon and emblem are drawn by a tool of the build machine, not of the target.
find_program(QUILLON_HOST_CXX NAMES c++ g++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(_draw ${CMAKE_CURRENT_BINARY_DIR}/host/quillon_draw_images)
add_custom_command(OUTPUT ${_draw}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/host
  COMMAND ${QUILLON_HOST_CXX} -std=c++20 -O2 -I${CMAKE_CURRENT_SOURCE_DIR}
          ${CMAKE_CURRENT_SOURCE_DIR}/res/draw/draw_images.cpp -lz -o ${_draw}
  DEPENDS res/draw/draw_images.cpp res/pixels.h
  COMMENT "Building the image drawing tool for this machine")
set(_pixels ${CMAKE_CURRENT_BINARY_DIR}/res/image_pixels.cpp)
set(_icon ${CMAKE_CURRENT_BINARY_DIR}/res/quillon.ico)
add_custom_command(OUTPUT ${_pixels} ${_icon}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/res
  COMMAND ${_draw} ${_pixels} ${_icon}
  DEPENDS ${_draw}
  COMMENT "Drawing Quillon's icon and emblem")

set(QUILLON_ICON_FILE ${_icon})
string(REPLACE "." "," QUILLON_VERSION_COMMAS "${PROJECT_VERSION}.0.0")
configure_file(platform/win32/quillon.rc.in ${CMAKE_CURRENT_BINARY_DIR}/quillon.rc @ONLY)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/quillon.rc PROPERTIES OBJECT_DEPENDS ${_icon})

file(GLOB _program CONFIGURE_DEPENDS app/*.cpp watch/*.cpp dialogs/*.cpp platform/framework/*.cpp platform/win32/*.cpp)
# The API's own files each compile alone: they include the desktop's headers, and undo
# the redirections of platform/win32/windows.h to reach the real functions, which in a
# batch would carry over into the program's files after them.
file(GLOB _win32_api CONFIGURE_DEPENDS platform/win32/*.cpp)
set_source_files_properties(${_win32_api} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
add_executable(Quillon WIN32
  ${_program}
  res/dialogs.cpp res/menus.cpp res/images.cpp res/resources.cpp ${_pixels}
  ${CMAKE_CURRENT_BINARY_DIR}/quillon.rc)
target_include_directories(Quillon PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# Runs on a Windows machine with nothing installed: no compiler run-time DLLs to carry.
# The PE header's time stamp is left 0, not the link's time, so that two builds of the
# same sources give the same executable.
target_link_options(Quillon PRIVATE -municode -static -static-libgcc -static-libstdc++
  -Wl,--no-insert-timestamp $<$<CONFIG:MinSizeRel>:-s>)
target_link_libraries(Quillon PRIVATE comctl32 shell32 ole32 uuid winmm advapi32 user32 gdi32)

file(GLOB _sounds CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/res/sound/*.wav)
add_custom_command(TARGET Quillon POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:Quillon>/Sound
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_sounds} $<TARGET_FILE_DIR:Quillon>/Sound
  COMMENT "Putting the sounds beside Quillon.exe")

# The driver that the tests under Wine read and work Quillon's real windows with.
if(QUILLON_TESTS)
  # Its monkey mode reads the program's menus and dialogs from the resource table.
  add_executable(quillon-driver tests/win32/wine_driver.cpp tests/win32/wine_monkey.cpp
    res/dialogs.cpp res/menus.cpp res/images.cpp res/resources.cpp ${_pixels})
  target_include_directories(quillon-driver PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_options(quillon-driver PRIVATE -municode -static -static-libgcc -static-libstdc++)
  target_link_libraries(quillon-driver PRIVATE shell32 ole32 uuid user32 advapi32)
  # The carrier's mail client as the tests' prefix has it, at C:\windows\e mail.exe.
  add_executable(quillon-mail WIN32 tests/win32/mail_client.cpp)
  target_link_options(quillon-mail PRIVATE -municode -static -static-libgcc -static-libstdc++)

  # The conformance cases over the desktop's API, with the framework and resources the
  # program uses (everything of platform/win32/ but its entry).
  file(GLOB _conformance CONFIGURE_DEPENDS tests/conformance/*.cpp)
  list(FILTER _conformance EXCLUDE REGEX "handset_test\\.cpp$")
  list(FILTER _program EXCLUDE REGEX "/(app|watch|dialogs)/|platform/win32/main\\.cpp$")
  add_executable(quillon-conformance ${_conformance} tests/conformance/win32/main.cpp ${_program}
    res/dialogs.cpp res/menus.cpp res/images.cpp res/resources.cpp ${_pixels})
  target_include_directories(quillon-conformance PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  target_link_options(quillon-conformance PRIVATE -municode -static -static-libgcc -static-libstdc++)
  target_link_libraries(quillon-conformance PRIVATE comctl32 shell32 ole32 uuid winmm advapi32 user32 gdi32)
endif()
