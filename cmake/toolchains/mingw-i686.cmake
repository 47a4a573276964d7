# 32-bit Windows console build with mingw-w64 (the shipped brisel.exe).
#   cmake --preset mingw-i686
set(BRISEL_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# 32-bit Windows programs need a Wine with 32-bit support (the "wine" command
# of a wine32 install); wine64 alone cannot run them.
if(EXISTS /usr/lib/wine/wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../wine-run;/usr/lib/wine/wine)
endif()
