# Run by cpack once it has written the packages, before it copies them out
# (CPACK_POST_BUILD_SCRIPTS): evens out what CPack takes from the machine
# that builds (see normalise_package.py). Without Python the packages stay
# as CPack wrote them, the same only for builds on like machines.
if(NOT CPACK_BRISEL_PYTHON)
  message(WARNING "No python3: the packages are left as CPack wrote them")
  return()
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CPACK_BRISEL_PYTHON}
                          ${CMAKE_CURRENT_LIST_DIR}/normalise_package.py ${package}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
