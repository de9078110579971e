# Windows x86 (32-bit), built with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(varnode_triplet i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/windows-cross.cmake)
