# Shared part of the mingw-w64 toolchain files; BRISEL_MINGW_TRIPLET names the
# compiler prefix (i686-w64-mingw32 or x86_64-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GoogleTest needs std::mutex, which the win32 model
# of Debian's mingw-w64 GCC lacks. The tool itself starts no threads.
set(CMAKE_C_COMPILER ${BRISEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRISEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BRISEL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BRISEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the C and C++ runtimes in, so brisel.exe runs without any DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
