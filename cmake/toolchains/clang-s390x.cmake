# Big-endian 64-bit Linux build (IBM Z, s390x) with clang; tests run under
# qemu-s390x-static.
#   cmake --preset linux-s390x
set(BRISEL_CROSS_TRIPLET s390x-linux-gnu)
set(BRISEL_QEMU qemu-s390x-static)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cross-common.cmake)
