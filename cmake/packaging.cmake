# Install rules and packages: a .deb on Linux, a .zip on Windows.
#   cmake --install build/release --prefix /usr/local
#   (cd build/release && cpack)

include(GNUInstallDirs)

if(WIN32)
  # The zip holds brisel.exe at its top, ready to drag files onto.
  install(TARGETS brisel RUNTIME DESTINATION .)
else()
  install(TARGETS brisel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/man/brisel.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME brisel)
set(CPACK_PACKAGE_VENDOR "brisel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "make every pixel of 32-bit TGA images fully opaque")
set(CPACK_PACKAGE_DESCRIPTION
    "brisel reads 32-bit true-colour TGA images (uncompressed or run-length
encoded), sets the alpha of every pixel to 255 and writes the result beside
each input as NAME_brisel.tga, run-length encoded when that is smaller.")
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "brisel developers <brisel@localhost>")
endif()
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Library dependencies (libc6, libstdc++6, libgcc-s1) with the versions
  # the build machine's libraries need, found by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  find_program(BRISEL_DPKG_SHLIBDEPS dpkg-shlibdeps)
  mark_as_advanced(BRISEL_DPKG_SHLIBDEPS)
  if(NOT BRISEL_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()
endif()

include(CPack)
