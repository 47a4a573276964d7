# The Windows zip: brisel.exe at its top, ready to drag files onto, with the
# licence and a short guide. Both text files get Windows line ends, so that
# every editor shows their lines.

install(TARGETS brisel RUNTIME DESTINATION .)
configure_file(${BRISEL_LICENSE_FILE} ${BRISEL_DOC_DIR}/LICENSE.txt
               @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/dist/windows-readme.txt
               ${BRISEL_DOC_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${BRISEL_DOC_DIR}/LICENSE.txt ${BRISEL_DOC_DIR}/README.txt
        DESTINATION .)

set(CPACK_GENERATOR ZIP)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

# What driver/brisel.rc puts in the version resource, which Explorer shows
# under the program's Properties.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/brisel_version.h @ONLY
     CONTENT [[
#define BRISEL_VERSION_NUMBERS @PROJECT_VERSION_MAJOR@,@PROJECT_VERSION_MINOR@,@PROJECT_VERSION_PATCH@,0
#define BRISEL_VERSION "@PROJECT_VERSION@"
#define BRISEL_COMPANY "@CPACK_PACKAGE_VENDOR@"
#define BRISEL_DESCRIPTION "@CPACK_PACKAGE_DESCRIPTION_SUMMARY@"
#define BRISEL_COPYRIGHT "Copyright (c) @BRISEL_COPYRIGHT_HOLDER@"
]])
target_include_directories(brisel PRIVATE ${PROJECT_BINARY_DIR}/generated)

# The PE header holds a link time; GNU ld takes it from SOURCE_DATE_EPOCH.
# The commit's time is read when configuring: a build folder kept across
# commits stamps the program with the time it was configured at until it is
# configured again (release builds start from a fresh folder).
if(MINGW)
  sourceDateEpoch(epoch ${PROJECT_SOURCE_DIR})
  if(NOT epoch STREQUAL "")
    set_property(TARGET brisel PROPERTY RULE_LAUNCH_LINK
                 "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch}")
  endif()
endif()
