# Shared part of the Linux cross toolchains: Debian's cross compilers
# (crossbuild-essential-<arch>) with their target libraries under
# /usr/<triplet>. Expects `varnode_triplet` and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${varnode_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${varnode_triplet}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${varnode_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Foreign instruction sets run under user-mode emulation, which finds the
# target's loader and libraries in the cross sysroot.
if(DEFINED varnode_qemu)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${varnode_qemu} -L /usr/${varnode_triplet})
endif()
