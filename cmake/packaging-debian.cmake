# The .deb, laid out as Debian's policy asks (lintian checks it in CI): the
# program, its man page and changelog compressed with gzip -9, the licence as
# a machine-readable copyright file. cmake --install puts the same files
# under any prefix.

install(TARGETS brisel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Each release has its entry in the changelog, under the version project()
# gives; a version without one is caught here rather than in the package.
set(changelog ${PROJECT_SOURCE_DIR}/dist/debian-changelog)
file(STRINGS ${changelog} latest LIMIT_COUNT 1)
if(NOT latest MATCHES "^brisel \\(([^)]+)\\)" OR
   NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "dist/debian-changelog starts with '${latest}': "
          "add an entry for version ${PROJECT_VERSION} at its top")
endif()

configure_file(${PROJECT_SOURCE_DIR}/man/brisel.1.in ${BRISEL_DOC_DIR}/brisel.1 @ONLY)
configure_file(${changelog} ${BRISEL_DOC_DIR}/changelog COPYONLY)

# The copyright file holds the licence's terms, each line indented by one
# space and an empty line written as " .".
string(FIND "${BRISEL_LICENSE}" "Permission is hereby granted" start)
if(start LESS 0)
  message(FATAL_ERROR "LICENSE does not hold the MIT licence's terms")
endif()
string(SUBSTRING "${BRISEL_LICENSE}" ${start} -1 body)
string(STRIP "${body}" body)
string(REPLACE "\n\n" "\n.\n" body "${body}")
string(REPLACE "\n" "\n " BRISEL_LICENSE_BODY "${body}")
configure_file(${PROJECT_SOURCE_DIR}/dist/debian-copyright.in
               ${BRISEL_DOC_DIR}/copyright @ONLY)

# -n leaves gzip's own copy of the name and time out, which would make every
# build differ.
find_program(BRISEL_GZIP gzip REQUIRED)
mark_as_advanced(BRISEL_GZIP)
add_custom_command(
  OUTPUT ${BRISEL_DOC_DIR}/brisel.1.gz ${BRISEL_DOC_DIR}/changelog.gz
  COMMAND ${BRISEL_GZIP} -9 -n -k -f brisel.1 changelog
  DEPENDS ${BRISEL_DOC_DIR}/brisel.1 ${BRISEL_DOC_DIR}/changelog
  WORKING_DIRECTORY ${BRISEL_DOC_DIR}
  VERBATIM)
add_custom_target(compressed_docs ALL
  DEPENDS ${BRISEL_DOC_DIR}/brisel.1.gz ${BRISEL_DOC_DIR}/changelog.gz)

install(FILES ${BRISEL_DOC_DIR}/brisel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${BRISEL_DOC_DIR}/copyright ${BRISEL_DOC_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# A maintainer address that lintian takes; a release may name its own.
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "brisel developers <brisel@example.org>")
endif()
# Library dependencies (libc6, libstdc++6, libgcc-s1) with the versions
# the build machine's libraries need, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
find_program(BRISEL_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(BRISEL_DPKG_SHLIBDEPS)
if(NOT BRISEL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
