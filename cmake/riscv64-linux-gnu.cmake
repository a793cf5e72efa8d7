# Cross build for 64-bit RISC-V, Debian's riscv64, with g++-riscv64-linux-gnu. Tests
# run on a plain RV64GC core, the SiFive U54, Debian's baseline.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(triple riscv64-linux-gnu)
set(qemu /usr/bin/qemu-riscv64-static -cpu sifive-u54)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
