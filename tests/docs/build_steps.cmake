# The README's count of the steps the demo preset builds, and of the
# whole suite's, against what this build's Ninja would run from nothing:
# cmake -DNINJA= -DBUILD_DIR= -DREADME= -P build_steps.cmake
function(steps target out)
  execute_process(COMMAND ${NINJA} -C ${BUILD_DIR} -t commands ${target}
                  OUTPUT_VARIABLE commands RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "ninja -t commands ${target} failed: ${failed}")
  endif()
  string(REGEX MATCHALL "\n" lines "${commands}")
  list(LENGTH lines count)
  set(${out} ${count} PARENT_SCOPE)
endfunction()

steps(quon-host demo)
steps(all suite)
file(READ ${README} readme)
if(NOT readme MATCHES "\\(([0-9]+)[ \n]+of[ \n]+the[ \n]+([0-9]+)[ \n]+build[ \n]+steps")
  message(FATAL_ERROR "README.md no longer says \"(N of the M build steps\"")
endif()
if(NOT CMAKE_MATCH_1 EQUAL demo OR NOT CMAKE_MATCH_2 EQUAL suite)
  message(FATAL_ERROR "README.md says ${CMAKE_MATCH_1} of the ${CMAKE_MATCH_2} build steps; "
                      "the build has ${demo} of the ${suite}")
endif()
