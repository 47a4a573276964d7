# 64-bit Windows console build with mingw-w64; its tests run under Wine.
#   cmake --preset mingw-x64
set(BRISEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../wine-run;/usr/lib/wine/wine64)
