# Cross build for 64-bit ARM, Debian's arm64, with g++-aarch64-linux-gnu. Tests run on
# the oldest 64-bit Raspberry Pi CPU, the Cortex-A53 of the Pi 3 and Zero 2 W.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(triple aarch64-linux-gnu)
set(qemu /usr/bin/qemu-aarch64-static -cpu cortex-a53)
# Its C library has the static-pie start-up, so the shipped executable must use it.
set(STEPWAVE_REQUIRE_STATIC_PIE ON)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
