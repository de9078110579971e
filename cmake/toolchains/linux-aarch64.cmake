# Linux aarch64 (64-bit ARM); programs run under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(varnode_triplet aarch64-linux-gnu)
set(varnode_qemu qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
