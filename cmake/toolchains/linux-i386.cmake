# Linux i386. The host runs its programs directly (with the i386 C and C++
# runtimes installed: libc6:i386, libstdc++6:i386), or under qemu-i386 where
# its kernel has no 32-bit support.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(varnode_triplet i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/i386-run.sh)
