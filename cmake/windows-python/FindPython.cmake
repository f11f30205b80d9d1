# Stands in for CMake's FindPython when building the extension for Windows on a system
# that cannot run a Windows interpreter: the headers come from a CPython source tree
# (Include/ and PC/pyconfig.h), and the import library of the interpreter's DLL is made
# at link time from the interpreter symbols the module's objects use.
#
# Put this directory first on CMAKE_MODULE_PATH and set TEMPOLOOM_WINDOWS_PYTHON_SOURCE
# to a directory with Include/ and PC/pyconfig.h. It provides what CMakeLists.txt uses of
# FindPython: Python_FOUND, Python_VERSION, Python_SOABI, Python::Module and
# python_add_library(<name> MODULE [WITH_SOABI] <sources>...). Only free-threaded builds.
# Nothing here runs an interpreter, so the Interpreter component is accepted without one.
include(FindPackageHandleStandardArgs)

set(TEMPOLOOM_WINDOWS_PYTHON_SOURCE "" CACHE PATH
  "CPython source tree whose Include/ and PC/pyconfig.h the Windows extension is built against")
set(_tl_python_root "${TEMPOLOOM_WINDOWS_PYTHON_SOURCE}")

if(EXISTS "${_tl_python_root}/Include/patchlevel.h" AND EXISTS "${_tl_python_root}/PC/pyconfig.h")
  file(STRINGS "${_tl_python_root}/Include/patchlevel.h" _tl_python_levels
    REGEX "^#define[ \t]+PY_(MAJOR|MINOR|MICRO)_VERSION[ \t]+[0-9]+")
  foreach(_tl_part MAJOR MINOR MICRO)
    string(REGEX MATCH "PY_${_tl_part}_VERSION[ \t]+([0-9]+)" _tl_match "${_tl_python_levels}")
    set(Python_VERSION_${_tl_part} "${CMAKE_MATCH_1}")
  endforeach()
  set(Python_VERSION "${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}.${Python_VERSION_MICRO}")
  set(Python_INCLUDE_DIRS "${_tl_python_root}/Include" "${_tl_python_root}/PC")
endif()

find_package_handle_standard_args(Python
  REQUIRED_VARS Python_INCLUDE_DIRS
  VERSION_VAR Python_VERSION)

if(NOT Python_FOUND)
  return()
endif()

set(_tl_python_nodot "${Python_VERSION_MAJOR}${Python_VERSION_MINOR}")
set(Python_SOABI "cp${_tl_python_nodot}t-win_amd64")
set(TEMPOLOOM_WINDOWS_PYTHON_DLL "python${_tl_python_nodot}t.dll")

if(NOT TARGET Python::Module)
  add_library(Python::Module INTERFACE IMPORTED)
  set_target_properties(Python::Module PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${Python_INCLUDE_DIRS}"
    # PC/pyconfig.h leaves the choice of the free-threaded ABI to its includer.
    INTERFACE_COMPILE_DEFINITIONS "Py_GIL_DISABLED=1")
endif()

# GCC's nm reads the symbol tables of link-time-optimized objects too.
get_filename_component(_tl_compiler_name "${CMAKE_CXX_COMPILER}" NAME)
string(REPLACE "g++" "gcc-nm" _tl_gcc_nm "${_tl_compiler_name}")
find_program(TEMPOLOOM_GCC_NM NAMES "${_tl_gcc_nm}" REQUIRED)
string(REPLACE "g++" "dlltool" _tl_dlltool "${_tl_compiler_name}")
string(REGEX REPLACE "-posix$" "" _tl_dlltool "${_tl_dlltool}")
find_program(TEMPOLOOM_DLLTOOL NAMES "${_tl_dlltool}" dlltool REQUIRED)
set(_tl_import_library_script "${CMAKE_CURRENT_LIST_DIR}/import_library.cmake")

function(python_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "MODULE;WITH_SOABI" "" "")
  if(NOT arg_MODULE)
    message(FATAL_ERROR "python_add_library(${name}): only MODULE libraries are built for Windows")
  endif()
  add_library(${name} MODULE ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE Python::Module)
  set(suffix ".pyd")
  if(arg_WITH_SOABI)
    set(suffix ".${Python_SOABI}.pyd")
  endif()
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX "${suffix}")

  # Made just before each link from the objects being linked; linked by name so that no
  # build rule has to produce it ahead of them. Named lib<dll>.a, as MinGW names the
  # system's import libraries, so that a -static link finds it too.
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${name}-python-import")
  string(REGEX REPLACE "\\.dll$" "" stem "${TEMPOLOOM_WINDOWS_PYTHON_DLL}")
  add_custom_command(TARGET ${name} PRE_LINK
    COMMAND "${CMAKE_COMMAND}"
      "-DOBJECTS=$<TARGET_OBJECTS:${name}>"
      "-DNM=${TEMPOLOOM_GCC_NM}"
      "-DDLLTOOL=${TEMPOLOOM_DLLTOOL}"
      "-DHEADERS=${Python_INCLUDE_DIRS}"
      "-DDLL=${TEMPOLOOM_WINDOWS_PYTHON_DLL}"
      "-DDEF=${dir}/${stem}.def"
      "-DLIBRARY=${dir}/lib${stem}.a"
      -P "${_tl_import_library_script}"
    VERBATIM)
  target_link_directories(${name} PRIVATE "${dir}")
  target_link_libraries(${name} PRIVATE "${stem}")
endfunction()
