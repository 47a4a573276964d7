# 64-bit ARM Linux build with clang; tests run under qemu-aarch64-static.
#   cmake --preset linux-aarch64
set(BRISEL_CROSS_TRIPLET aarch64-linux-gnu)
set(BRISEL_QEMU qemu-aarch64-static)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cross-common.cmake)
