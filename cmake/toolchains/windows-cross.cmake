# Shared part of the Windows cross toolchains: Debian's MinGW-w64 compilers
# with the POSIX thread model (std::mutex and std::thread need it). Expects
# `varnode_triplet` and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${varnode_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${varnode_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${varnode_triplet}-windres)
set(CMAKE_NM ${varnode_triplet}-nm)
set(CMAKE_OBJDUMP ${varnode_triplet}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${varnode_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry the C++ runtime and the thread library inside them, so that
# they start without MinGW's DLLs on the search path.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Programs run under Wine, in a prefix of their own inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
