# Writes the man page OUTPUT of PROGRAM (lintrel-cli) with help2man, from what its --help
# and --version print, plus the sections of INCLUDE, and OUTPUT.gz beside it (gzip -n: the
# same bytes at every build). --help names the settings file of the user who runs it: run
# with HOME set to a placeholder and name the default path instead.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=XDG_CONFIG_HOME HOME=${HOME}
          ${HELP2MAN} --no-info --section=1 "--name=type lines from serial devices as key presses"
          --include=${INCLUDE} --output=${OUTPUT}.new ${PROGRAM}
  RESULT_VARIABLE result
  ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man failed (${result}): ${error}")
endif()
file(READ ${OUTPUT}.new page)
string(REPLACE "${HOME}/.config" "~/.config" page "${page}")
file(WRITE ${OUTPUT} "${page}")
file(REMOVE ${OUTPUT}.new)
execute_process(COMMAND gzip -9 -n -f -k ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip ${OUTPUT} failed (${result})")
endif()
