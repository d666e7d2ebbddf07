# Reads a module's import and export tables with llvm-readobj and checks
# them: it imports from kernel32.dll only GetPrivateProfileStringA and
# OutputDebugStringA, from the C runtime DLL, and from quon_string.dll
# only names exported by STRING_LIBRARY (a DLL or an import library) and,
# when CALLS is given, exactly the string-library operations it lists; it
# exports one name, load_quon_client_script, undecorated.
#
#   cmake -DREADOBJ=llvm-readobj -DNM=llvm-nm -DMODULE=Korvane.dll [-DCALLS=list.txt]
#         -DSTRING_LIBRARY=quon_string.dll -DRUNTIME=msvcrt.dll -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
foreach(variable READOBJ NM MODULE STRING_LIBRARY RUNTIME)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

set(failures 0)
function(expect condition what)
  if(${condition})
    message(STATUS "ok: ${what}")
  else()
    message(STATUS "FAILED: ${what}")
    math(EXPR count "${failures} + 1")
    set(failures ${count} PARENT_SCOPE)
  endif()
endfunction()

function(expect_same_list got expected what)
  list(SORT got)
  list(SORT expected)
  if(got STREQUAL expected)
    expect(TRUE "${what}")
  else()
    string(REPLACE ";" "\n    " got_lines "${got}")
    string(REPLACE ";" "\n    " expected_lines "${expected}")
    expect(FALSE "${what}\n  expected:\n    ${expected_lines}\n  got:\n    ${got_lines}")
  endif()
  set(failures ${failures} PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${READOBJ} --coff-imports --coff-exports ${MODULE}
  OUTPUT_VARIABLE tables RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${READOBJ} cannot read ${MODULE}")
endif()

# llvm-readobj prints one block a DLL imported from ("Import {", "Name:",
# "Symbol: NAME (HINT)" lines) and one block an export ("Export {",
# "Ordinal:", "Name:"); lld-link's empty slot 0 shows as an export without
# a name, which no loader can find, and is not counted.
string(REPLACE "\n" ";" lines "${tables}")
set(block "")
set(dlls)
set(exports)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line MATCHES "^Import {")
    set(block import)
  elseif(line MATCHES "^Export {")
    set(block export)
  elseif(block STREQUAL "import" AND line MATCHES "^Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND dlls ${dll})
    set(imports_${dll})
  elseif(block STREQUAL "import" AND line MATCHES "^Symbol: ([^ ]+)")
    list(APPEND imports_${dll} "${CMAKE_MATCH_1}")
  elseif(block STREQUAL "export" AND line MATCHES "^Name: (.+)$")
    list(APPEND exports "${CMAKE_MATCH_1}")
  endif()
endforeach()

string(TOLOWER "${RUNTIME}" runtime)
expect_same_list("${dlls}" "kernel32.dll;${runtime};quon_string.dll"
  "imports from kernel32.dll, ${runtime} and quon_string.dll, and nothing else")
expect_same_list("${imports_kernel32.dll}" "GetPrivateProfileStringA;OutputDebugStringA"
  "from kernel32.dll: GetPrivateProfileStringA and OutputDebugStringA")

if(DEFINED CALLS)
  file(STRINGS ${CALLS} call_lines REGEX "^[^#]")
  set(calls)
  foreach(line IN LISTS call_lines)
    string(REGEX MATCH "^[^ \t]+" name "${line}")
    list(APPEND calls "${name}")
  endforeach()
  expect_same_list("${imports_quon_string.dll}" "${calls}"
    "from quon_string.dll: the operations of ${CALLS}, under Microsoft-decorated names")
else()
  list(LENGTH imports_quon_string.dll count)
  set(some FALSE)
  if(count GREATER 0)
    set(some TRUE)
  endif()
  expect(some "from quon_string.dll: ${count} names")
endif()

# What the string library offers: a DLL's export table, or the names an
# import library provides.
if(STRING_LIBRARY MATCHES "\\.lib$")
  execute_process(COMMAND ${NM} ${STRING_LIBRARY} OUTPUT_VARIABLE symbols ERROR_QUIET)
  string(REGEX MATCHALL "__imp_[^\n\r]+" offered "${symbols}")
  list(TRANSFORM offered REPLACE "^__imp_" "")
else()
  execute_process(COMMAND ${READOBJ} --coff-exports ${STRING_LIBRARY} OUTPUT_VARIABLE symbols)
  string(REGEX MATCHALL "Name: [^\n\r]+" offered "${symbols}")
  list(TRANSFORM offered REPLACE "^Name: " "")
endif()
set(missing)
foreach(name IN LISTS imports_quon_string.dll)
  if(NOT name IN_LIST offered)
    list(APPEND missing ${name})
  endif()
endforeach()
expect_same_list("${missing}" "" "every import from quon_string.dll is offered by ${STRING_LIBRARY}")

expect_same_list("${exports}" "load_quon_client_script" "the one export is load_quon_client_script, undecorated")

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} check(s) failed")
endif()
