# Runs COMMAND (a ;-list) and checks its exit code and, when given, that its
# output matches OUTPUT.
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code STREQUAL EXIT)
  message(FATAL_ERROR "exit code ${code}, expected ${EXIT}\n${out}${err}")
endif()
if(DEFINED OUTPUT AND NOT "${out}${err}" MATCHES "${OUTPUT}")
  message(FATAL_ERROR "output does not match \"${OUTPUT}\":\n${out}${err}")
endif()
