# With VALIDATE: quon-host validate on the DLL, every check passing.
# Otherwise: runs quon-host with ARGS ('|' between arguments; none: the demo) twice,
# with --trace: on the module built here (SO) and on the same module built
# for 32-bit Windows (DLL, with quon_string.dll beside it) running on the
# emulated CPU. The transcripts, module paths aside, must be the same.
# Skipped, saying why, when the Windows build is not there.
if(NOT EXISTS "${DLL}")
  message("skipped: no ${DLL}; build it with: cmake --preset windows32-msvc && cmake --build --preset windows32-msvc"
          " (or configure with -DQUON_WINDOWS_MODULES=FOLDER)")
  return()
endif()
if(DEFINED VALIDATE)
  execute_process(COMMAND "${QUON_HOST}" validate "${DLL}" --seed 1 --messages ${VALIDATE}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "validate exited ${code}:\n${out}${err}")
  endif()
  message("${out}")
  return()
endif()
# Transcripts hold ';', so each is a variable of its own, not a list item.
foreach(kind native emulated)
  if(kind STREQUAL native)
    set(module "${SO}")
  else()
    set(module "${DLL}")
  endif()
  set(command "${QUON_HOST}" --module "${module}" --panels panels --trace=text)
  if(DEFINED ARGS)
    string(REPLACE "|" ";" arguments "${ARGS}")
    list(APPEND command ${arguments})
  endif()
  execute_process(COMMAND ${command} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "${module}" "MODULE" text "exit ${code}\n${out}${err}")
  set(${kind} "${text}")
  get_filename_component(name "${module}" NAME)
  file(WRITE "${OUT}.${name}.txt" "${text}")
endforeach()
if(NOT "${native}" STREQUAL "${emulated}")
  message(FATAL_ERROR "the transcripts differ: ${OUT}.Korvane.so.txt and ${OUT}.Korvane.dll.txt")
endif()
message("the same transcript on both modules")
