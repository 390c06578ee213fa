# Cross-compiles the Windows build with MinGW-w64 for 32-bit Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_triple i686-w64-mingw32)
set(_package g++-mingw-w64-i686-posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
