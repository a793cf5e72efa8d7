# Cross build for 32-bit ARMv7 with hardware floating point, Debian's armhf, with
# g++-arm-linux-gnueabihf.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
set(triple arm-linux-gnueabihf)
set(qemu qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
