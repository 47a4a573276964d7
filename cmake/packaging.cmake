# Install rules and packages: a .deb on Linux, a .zip on Windows.
#   cmake --install build/release --prefix /usr/local
#   (cd build/release && cpack)
# Both carry the licence and the version of project(). Their time stamps come
# from SOURCE_DATE_EPOCH or the commit's time (cmake/source_date.cmake), so
# two builds of one commit give the same bytes.

include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/source_date.cmake)

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
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_pre_build.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_post_build.cmake)
set(CPACK_BRISEL_SOURCE_DIR ${PROJECT_SOURCE_DIR})
find_program(BRISEL_PACKAGE_PYTHON python3)
mark_as_advanced(BRISEL_PACKAGE_PYTHON)
set(CPACK_BRISEL_PYTHON ${BRISEL_PACKAGE_PYTHON})
include(CPack)
