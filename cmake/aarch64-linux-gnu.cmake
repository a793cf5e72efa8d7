# Cross build for 64-bit ARM, Debian's arm64, with g++-aarch64-linux-gnu. Tests run on
# the oldest 64-bit Raspberry Pi CPU, the Cortex-A53 of the Pi 3 and Zero 2 W.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
set(triple aarch64-linux-gnu)
set(qemu /usr/bin/qemu-aarch64-static -cpu cortex-a53)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
