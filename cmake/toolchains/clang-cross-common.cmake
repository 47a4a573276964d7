# Shared part of the clang cross toolchain files for other processors;
# BRISEL_CROSS_TRIPLET names the target (aarch64-linux-gnu, s390x-linux-gnu)
# and BRISEL_QEMU the qemu-user program that runs its programs here.
#
# Debian's cross packages (libc6-dev-ARCH-cross, libstdc++-12-dev-ARCH-cross,
# libgcc-12-dev-ARCH-cross, binutils-TRIPLET) put the target's headers and
# libraries under /usr/TRIPLET, and clang finds them there by the target
# alone. Clang rather than the cross gcc packages: those conflict with
# g++-multilib, which the 32-bit x86 build needs on the same machine.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${BRISEL_CROSS_TRIPLET})
set(CMAKE_CXX_COMPILER_TARGET ${BRISEL_CROSS_TRIPLET})

set(CMAKE_FIND_ROOT_PATH /usr/${BRISEL_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run the programs under qemu-user, with the target's libraries
# (its dynamic loader, libc, libstdc++) taken from the same folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${BRISEL_QEMU};-L;/usr/${BRISEL_CROSS_TRIPLET})
