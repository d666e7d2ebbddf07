# Runs fake_router with a script of commands on standard input and checks
# that it printed a port first and answered each command.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/fake_router_commands.txt
  "route 2 3\nlabel in 1 Camera one\nsilent on\nsilent off\ndrop\nroute 99 1\nbogus\nquit\n")
foreach(protocol videohub swp08 emberplus quartz nmos)
  execute_process(COMMAND ${FAKE_ROUTER} ${protocol} --sources 4 --destinations 4
    INPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/fake_router_commands.txt
    OUTPUT_VARIABLE output RESULT_VARIABLE result TIMEOUT 20)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${protocol}: fake_router exited with ${result}: ${output}")
  endif()
  if(NOT output MATCHES "^[1-9][0-9]*\nok\nok\nok\nok\nok\nerror: no destination 99\nerror: unknown command bogus\n$")
    message(FATAL_ERROR "${protocol}: unexpected output:\n${output}")
  endif()
endforeach()

# The NMOS registry's own: its restart, its node's expiry and restart.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/fake_router_nmos_commands.txt "restart\nexpire\nnode-restart\nexpire\nquit\n")
execute_process(COMMAND ${FAKE_ROUTER} nmos --node-return 0
  INPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/fake_router_nmos_commands.txt
  OUTPUT_VARIABLE output RESULT_VARIABLE result TIMEOUT 20)
if(NOT result EQUAL 0 OR NOT output MATCHES "^[1-9][0-9]*\nok\nok\nok\nok\n$")
  message(FATAL_ERROR "nmos: fake_router exited with ${result}:\n${output}")
endif()
