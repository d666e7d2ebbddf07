# Runs COMMAND (a ;-list), which must exit with 0, and checks that its
# standard output is the content of EXPECTED, once the module's path MODULE
# is written as MODULE_AS (the docs show a path that is the same on every
# machine). Blanks at the ends of lines are not compared: the docs' blocks
# do not keep them. When they differ, the output is written to ACTUAL_DIR.
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code STREQUAL "0")
  message(FATAL_ERROR "exit code ${code}, expected 0\n${out}${err}")
endif()
file(READ "${EXPECTED}" expected)
string(REPLACE "${MODULE}" "${MODULE_AS}" out "${out}")
string(REGEX REPLACE "[ \t]+\n" "\n" out "${out}")
string(REGEX REPLACE "[ \t]+\n" "\n" expected "${expected}")
if(NOT out STREQUAL expected)
  get_filename_component(name "${EXPECTED}" NAME)
  set(actual "${ACTUAL_DIR}/${name}.actual")
  file(WRITE "${actual}" "${out}")
  message(FATAL_ERROR "the output differs from ${EXPECTED}; it is written to ${actual}:\n${out}")
endif()
