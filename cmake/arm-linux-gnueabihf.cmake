# Debian's armhf, built as armel is: one ARMv5TE executable, static, so that the armhf
# package runs on every 32-bit Raspberry Pi, the ARMv6 Pi 1 and Zero included.
include(${CMAKE_CURRENT_LIST_DIR}/arm-linux-gnueabi.cmake)
