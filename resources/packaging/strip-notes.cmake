# CPack pre-build step: drops the compiler's .comment and .note sections that a plain strip keeps,
# as Debian's own packaging does, from every program staged for the package.
file(GLOB_RECURSE staged_programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
foreach(program ${staged_programs})
  execute_process(COMMAND strip --remove-section=.comment --remove-section=.note --strip-unneeded ${program}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not strip ${program}")
  endif()
endforeach()
