# Settings that depend on the target platform, included by the top-level
# CMakeLists.txt after the tool's targets exist and before the tests.

if(MSVC)
  # fopen, _open and friends are the portable calls this code wants.
  foreach(target imagecodec systemlayer imagefile driverlib brisel)
    target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
  endforeach()
endif()

# Windows: paths longer than 260 characters are handed to the system in
# their extended form, and the manifest (driver/brisel.manifest) says the
# program takes long paths: windres embeds it for mingw-w64, MSVC's linker
# merges it into its own. The program reads its command line and expands
# wildcards in it itself, the same way for every compiler and C runtime.
if(WIN32)
  target_sources(brisel PRIVATE driver/wildcards-win32.cc)
endif()
if(MINGW)
  enable_language(RC)
  target_sources(brisel PRIVATE driver/brisel.rc)
elseif(MSVC)
  target_sources(brisel PRIVATE driver/brisel.manifest)
endif()

# Cross builds (mingw-w64, gcc -m32) cannot link the host's GoogleTest, so it
# is built from source with the same compiler. Debian's googletest package
# puts the source in /usr/src/googletest.
set(BRISEL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest source tree, built along with the tests when cross compiling")
if(BRISEL_BUILD_TESTS AND CMAKE_CROSSCOMPILING AND NOT TARGET GTest::gtest_main)
  if(NOT EXISTS ${BRISEL_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "Cross-compiled tests need the GoogleTest sources in "
            "BRISEL_GTEST_SOURCE_DIR (${BRISEL_GTEST_SOURCE_DIR}); "
            "on Debian: apt-get install googletest")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${BRISEL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL)
  # Its own code is not held to this project's warnings-as-errors.
  foreach(target gtest gtest_main)
    if(MSVC)
      target_compile_options(${target} PRIVATE /WX-)
    else()
      target_compile_options(${target} PRIVATE -Wno-error)
    endif()
  endforeach()
endif()
