# Cross-compiles the Windows build with MinGW-w64 for 64-bit Windows: the
# same program, for systems (and Wine installations) without 32-bit support.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)
set(_package g++-mingw-w64-x86-64-posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
