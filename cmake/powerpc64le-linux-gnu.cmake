# Cross build for 64-bit little-endian POWER, Debian's ppc64el, with
# g++-powerpc64le-linux-gnu. Tests run on POWER8, Debian's baseline.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(triple powerpc64le-linux-gnu)
set(qemu /usr/bin/qemu-ppc64le-static -cpu power8)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
