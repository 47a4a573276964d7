# Install rules and packages: a .deb on Linux, a .zip on Windows.
#   cmake --install build/release --prefix /usr/local
#   (cd build/release && cpack)
# Both carry the licence and the version of project().

include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME brisel)
set(CPACK_PACKAGE_VENDOR "brisel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "make every pixel of 32-bit TGA images fully opaque")
set(CPACK_PACKAGE_DESCRIPTION
    "brisel reads 32-bit true-colour TGA images (uncompressed or run-length
encoded), sets the alpha of every pixel to 255 and writes the result beside
each input as NAME_brisel.tga, run-length encoded when that is smaller.")

# The copyright line of the licence, for the Debian copyright file and the
# Windows version resource.
set(BRISEL_LICENSE_FILE ${PROJECT_SOURCE_DIR}/LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${BRISEL_LICENSE_FILE})
file(READ ${BRISEL_LICENSE_FILE} BRISEL_LICENSE)
if(NOT BRISEL_LICENSE MATCHES "Copyright \\(c\\) ([^\n]+)")
  message(FATAL_ERROR "LICENSE has no line 'Copyright (c) YEAR HOLDER'")
endif()
set(BRISEL_COPYRIGHT_HOLDER ${CMAKE_MATCH_1})
set(BRISEL_DOC_DIR ${PROJECT_BINARY_DIR}/doc)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/packaging-windows.cmake)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/packaging-debian.cmake)
endif()

set(CPACK_STRIP_FILES ON)
include(CPack)
