# Cross build for IBM Z, Debian's s390x, with g++-s390x-linux-gnu: the one big-endian
# build. Tests run on the z196, the baseline that Debian's compiler targets, less the
# crypto, decimal floating point and system facilities that qemu cannot emulate; code
# for a newer machine (z13 vector instructions, say) traps there.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(triple s390x-linux-gnu)
set(cpu z196-base)
foreach(facility IN ITEMS klmd-sha-1 kimd-sha-1 km-tdea-192 km-tdea-128 km-dea kmc-tdea-192
        kmc-tdea-128 kmc-dea kmac-tdea-192 kmac-tdea-128 kmac-dea dateh2 cmpsceh pfpo dfphp
        dfp emon parseh hfpue hfpm nonqks csske asnlxr tods)
    string(APPEND cpu ,${facility}=off)
endforeach()
set(qemu /usr/bin/qemu-s390x-static -cpu ${cpu})
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
