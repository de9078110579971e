# Linux armhf (32-bit ARMv7, hard-float ABI); programs run under qemu-arm.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(varnode_triplet arm-linux-gnueabihf)
set(varnode_qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
