# What both MinGW-w64 toolchain files share: find the cross compilers for
# _triple (set by the file that includes this one) and look for libraries and
# headers only in that target's root.
# Prefer the posix-threads flavour (the one the setup installs); any will do.
foreach(_flavour -posix -win32 "")
  find_program(_cxx NAMES ${_triple}-g++${_flavour})
  if(_cxx)
    find_program(_cc NAMES ${_triple}-gcc${_flavour})
    break()
  endif()
endforeach()
if(NOT _cxx)
  message(FATAL_ERROR "${_triple}-g++ not found: install ${_package}")
endif()

set(CMAKE_C_COMPILER ${_cc})
set(CMAKE_CXX_COMPILER ${_cxx})
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
