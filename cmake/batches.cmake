# The batches of the unity build, written by the build itself. CMake 3.25 includes each
# file of a batch by its absolute path, so a batch's text, and with it the compiler
# cache's direct key for it, differed from one checkout to the next: a fresh clone found
# none of its batches directly and ran the preprocessor over each to find it in the cache
# (the optimised build of a fresh clone on a warm cache took 40 s of CPU, against 22 when
# every lookup was direct). Here a batch names its files below the sources' root, which
# is on every target's include path, and reads the same in every checkout.
#
# quillon_write_batches() runs once, after every target is defined. A target whose
# UNITY_BUILD is on gets batches of CMAKE_UNITY_BUILD_BATCH_SIZE files in the order of its
# sources, and UNITY_BUILD off. A file that CMake's own unity build would leave out
# (SKIP_UNITY_BUILD_INCLUSION, flags or definitions of its own) or that the build
# generates compiles alone, as there.

# Writes the batch gathered in _batch as the next file of `target`, and starts the next.
# A macro: it works on the caller's variables.
macro(_quillon_write_batch)
  list(LENGTH _written _n)
  set(_file "${CMAKE_BINARY_DIR}/batches/${target}_${_n}.cpp")
  file(CONFIGURE OUTPUT "${_file}" CONTENT "${_batch}" @ONLY)
  list(APPEND _written "${_file}")
  set(_batch "")
  set(_in_batch 0)
endmacro()

function(_quillon_batch_target target)
  get_target_property(_type ${target} TYPE)
  if(NOT _type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
    return()
  endif()
  get_target_property(_unity ${target} UNITY_BUILD)
  if(NOT _unity)
    return()
  endif()
  get_target_property(_sources ${target} SOURCES)
  get_target_property(_dir ${target} SOURCE_DIR)
  get_target_property(_size ${target} UNITY_BUILD_BATCH_SIZE)
  if(NOT _size)
    set(_size 8)
  endif()
  set(_batch "")
  set(_in_batch 0)
  set(_written "")
  foreach(_source IN LISTS _sources)
    if(NOT _source MATCHES "\\.(cpp|cxx|cc)$" OR _source MATCHES "\\$<")
      continue()
    endif()
    get_filename_component(_path "${_source}" ABSOLUTE BASE_DIR "${_dir}")
    file(RELATIVE_PATH _relative "${PROJECT_SOURCE_DIR}" "${_path}")
    if(_relative MATCHES "^\\.\\./" OR _path MATCHES "^${PROJECT_BINARY_DIR}/")
      continue()
    endif()
    set(_alone FALSE)
    foreach(_property SKIP_UNITY_BUILD_INCLUSION GENERATED COMPILE_DEFINITIONS COMPILE_OPTIONS COMPILE_FLAGS
                      INCLUDE_DIRECTORIES)
      get_source_file_property(_value "${_path}" TARGET_DIRECTORY ${target} ${_property})
      if(_value)
        set(_alone TRUE)
      endif()
    endforeach()
    if(_alone)
      continue()
    endif()
    set_source_files_properties("${_path}" TARGET_DIRECTORY ${target} PROPERTIES HEADER_FILE_ONLY ON)
    string(APPEND _batch "#include \"${_relative}\"\n")
    math(EXPR _in_batch "${_in_batch} + 1")
    if(_in_batch EQUAL _size)
      _quillon_write_batch()
    endif()
  endforeach()
  if(_in_batch GREATER 0)
    _quillon_write_batch()
  endif()
  target_sources(${target} PRIVATE ${_written})
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}")
  # gcc takes a class that holds a type of its file's anonymous namespace for one of a
  # header when the file is not the one compiled, as every file of a batch but the first
  # is; the builds without batches keep the warning.
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANG_AND_ID:CXX,GNU>:-Wno-subobject-linkage>")
  set_target_properties(${target} PROPERTIES UNITY_BUILD OFF)
endfunction()

function(quillon_write_batches directory)
  get_property(_targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(_target IN LISTS _targets)
    _quillon_batch_target(${_target})
  endforeach()
  get_property(_subdirectories DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
  foreach(_subdirectory IN LISTS _subdirectories)
    quillon_write_batches("${_subdirectory}")
  endforeach()
endfunction()
