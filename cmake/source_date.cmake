# The one time that every time stamp in the programs and packages takes, so
# that two builds of one commit give the same bytes wherever and whenever
# they run: SOURCE_DATE_EPOCH when the environment sets it, otherwise the
# time of the commit checked out in source_dir. Empty when neither is known
# (a copy of the sources without git); the tools then stamp the current time.
# Used at configure time and again by cpack (cpack_project.cmake).
function(sourceDateEpoch out_var source_dir)
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(epoch STREQUAL "")
    find_program(BRISEL_GIT git)
    mark_as_advanced(BRISEL_GIT)
    if(BRISEL_GIT)
      execute_process(COMMAND ${BRISEL_GIT} -C ${source_dir} log -1 --format=%ct
                      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                      RESULT_VARIABLE status ERROR_QUIET)
      if(NOT status EQUAL 0)
        set(epoch "")
      endif()
    endif()
  endif()
  set(${out_var} "${epoch}" PARENT_SCOPE)
endfunction()
