# What the script checks of a built DLL share: expect(WHAT CONDITION...)
# says "ok" or "FAILED" for each check and counts the failures, which the
# script reports at its end.
set(failures 0)
macro(expect what)
  if(${ARGN})
    message(STATUS "ok: ${what}")
  else()
    message(STATUS "FAILED: ${what}")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()
