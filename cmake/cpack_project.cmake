# Read by cpack before it builds each package (CPACK_PROJECT_CONFIG_FILE).
# CPack stamps the files, folders and archive members of the .deb and .zip
# with SOURCE_DATE_EPOCH when it is set; here it defaults to the time of the
# commit being packed, so that packing it again gives the same bytes.
include(${CMAKE_CURRENT_LIST_DIR}/source_date.cmake)
sourceDateEpoch(epoch "${CPACK_BRISEL_SOURCE_DIR}")
if(epoch STREQUAL "")
  message(WARNING "Neither SOURCE_DATE_EPOCH nor a git commit gives a time: "
          "the package carries the current time and differs from build to build")
else()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
