# Windows x86-64, built with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(varnode_triplet x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/windows-cross.cmake)
