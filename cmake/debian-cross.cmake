# Shared by the cross toolchain files, which set triple and qemu (the command and its CPU):
# Debian's cross compiler for the triple, the target's libraries under /usr/TRIPLE, and
# qemu-user to run what it builds, so that ctest runs the whole suite under emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# -L points qemu's dynamic loader at the target's libraries, for the test programs.
set(CMAKE_CROSSCOMPILING_EMULATOR ${qemu} -L /usr/${triple})
