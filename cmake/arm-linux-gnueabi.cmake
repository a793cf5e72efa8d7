# Cross build for 32-bit ARM with g++-arm-linux-gnueabi, Debian's armel: ARMv5TE code
# and C library, so that the static executable runs on every 32-bit Raspberry Pi, the
# ARMv6 Pi 1 and Zero included. Tests run on the Pi 1's CPU, the ARM1176.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(triple arm-linux-gnueabi)
set(qemu /usr/bin/qemu-arm-static -cpu arm1176)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
