# The machines stepwave is released for, and how each is built and tested: its Debian
# architecture; the multiarch tuple of its C library, which CMake reads off the compiler;
# whether its static executable is static-pie, as it can be where the C library of every
# Debian release has the start-up for it (debian/stepwave.lintian-overrides follows this
# column); and the qemu-user program and CPUs that run a cross build's tests, first the
# oldest CPU that the build's code claims. A machine not listed here is plain static, and
# a cross build for it runs its tests under qemu-user's default CPU. The scripts read the
# first column. Sets STEPWAVE_STATIC_PIE; in a cross build, CMAKE_CROSSCOMPILING_EMULATOR,
# on the first CPU, and STEPWAVE_QEMU and stepwave_cpus, the other CPUs. As a script,
# cmake -DARCH=arm64 -P cmake/machines.cmake prints the machine's qemu-user and CPUs.
function(machine arch tuple static_pie qemu)
    if(tuple STREQUAL CMAKE_LIBRARY_ARCHITECTURE OR arch STREQUAL ARCH)
        if(static_pie STREQUAL yes)
            set(STEPWAVE_STATIC_PIE ON PARENT_SCOPE)
        endif()
        set(stepwave_qemu ${qemu} PARENT_SCOPE)
        set(stepwave_cpus ${ARGN} PARENT_SCOPE)
    endif()
endfunction()

#       arch     multiarch tuple        static-pie  qemu-user            CPUs
machine(amd64    x86_64-linux-gnu       yes         qemu-x86_64-static   qemu64)
machine(arm64    aarch64-linux-gnu      yes         qemu-aarch64-static  cortex-a53)
machine(armel    arm-linux-gnueabi      no          qemu-arm-static      arm926 arm1176)
# Debian's armhf baseline, VFPv3-D16 without NEON: Debian 13's qemu requires the D16
# register file named once NEON is off, and Debian 12's knows no such option.
machine(armhf    arm-linux-gnueabihf    no          qemu-arm-static
        cortex-a8,neon=off,vfp-d32=off cortex-a8,neon=off)
machine(ppc64el  powerpc64le-linux-gnu  no          qemu-ppc64le-static  power8)
machine(riscv64  riscv64-linux-gnu      no          qemu-riscv64-static  sifive-u54)
# The z196 less the crypto, decimal floating point and system facilities qemu lacks.
machine(s390x    s390x-linux-gnu        no          qemu-s390x-static    "z196-base,msa=off,\
dateh2=off,cmpsceh=off,pfpo=off,dfphp=off,dfp=off,emon=off,parseh=off,hfpue=off,hfpm=off,\
nonqks=off,csske=off,asnlxr=off,tods=off")

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    string(JOIN " " line ${stepwave_qemu} ${stepwave_cpus})
    execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${line}")
    return()
endif()

# Keeps the CPUs on which this qemu-user runs a program: the options that describe a CPU
# differ between qemu's versions, and a CPU that no version knows fails here loudly.
function(runnable_cpus)
    set(kept "")
    foreach(cpu IN LISTS stepwave_cpus)
        string(MAKE_C_IDENTIFIER "${cpu}" id)
        set(CMAKE_CROSSCOMPILING_EMULATOR ${STEPWAVE_QEMU} -cpu ${cpu})
        try_run(STEPWAVE_RUNS_ON_${id} built SOURCE_FROM_CONTENT runs.cpp "int main() {}"
            LINK_OPTIONS -static)
        if(STEPWAVE_RUNS_ON_${id} EQUAL 0)
            list(APPEND kept ${cpu})
        endif()
    endforeach()
    if(stepwave_cpus AND NOT kept)
        message(FATAL_ERROR "${STEPWAVE_QEMU} runs nothing on any of: ${stepwave_cpus}")
    endif()
    message(STATUS "The tests run under ${STEPWAVE_QEMU} on: ${kept}")
    set(stepwave_cpus ${kept} PARENT_SCOPE)
endfunction()

if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    if(NOT stepwave_qemu)
        string(REGEX REPLACE "-.*" "" cpu "${CMAKE_LIBRARY_ARCHITECTURE}")
        string(REGEX REPLACE "^powerpc" ppc cpu "${cpu}")
        set(stepwave_qemu qemu-${cpu}-static)
    endif()
    find_program(STEPWAVE_QEMU ${stepwave_qemu} DOC "qemu-user, which runs a cross build's tests")
    if(STEPWAVE_QEMU)
        runnable_cpus()
        set(CMAKE_CROSSCOMPILING_EMULATOR ${STEPWAVE_QEMU})
        list(POP_FRONT stepwave_cpus cpu)
        if(cpu)
            list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -cpu ${cpu})
        endif()
    else()
        message(WARNING "No ${stepwave_qemu} (Debian: qemu-user-static): the tests of this "
            "cross build run only where the kernel runs its programs itself")
    endif()
else()
    set(stepwave_cpus "")
endif()
