# Reads a built Korvane.dll as a file, without loading it: the version
# resource (its fixed version and its texts), the signature record in
# initialised, non-executable data, and the registration of its exception
# handlers. dll_check checks the same under Wine
# through the Windows API; this check needs no Wine.
#
#   cmake -DREADOBJ=llvm-readobj -DMODULE=Korvane.dll -P check_module_file.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/expect.cmake)

file(READ ${MODULE} bytes HEX)

# The hex digits of `text` as the file holds it: UTF-16LE in the version
# resource, one byte a character in the signature.
function(hex_of text wide out)
  set(hex "")
  string(LENGTH "${text}" length)
  math(EXPR last "${length} - 1")
  foreach(i RANGE ${last})
    string(SUBSTRING "${text}" ${i} 1 c)
    string(HEX "${c}" h)
    if(wide)
      string(APPEND hex "${h}00")
    else()
      string(APPEND hex "${h}")
    endif()
  endforeach()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${READOBJ} --coff-resources ${MODULE} OUTPUT_VARIABLE resources)
string(FIND "${resources}" "Type: VERSIONINFO" versioninfo)
expect("the DLL carries a version resource" versioninfo GREATER -1)
# VS_FIXEDFILEINFO: its signature, its structure version, then the file
# version 1.0.0.1 as two little-endian double words.
string(FIND "${bytes}" "bd04effe000001000000010001000000" fixed)
expect("the fixed file version is 1.0.0.1" fixed GREATER -1)
foreach(pair "FileDescription=UMD style display for a single layer matrix destination"
             "FileVersion=1, 0, 0, 1" "ProductVersion=1, 0, 0, 1" "InternalName=Korvane"
             "OriginalFilename=Korvane")
  string(REPLACE "=" ";" parts "${pair}")
  list(GET parts 0 key)
  list(GET parts 1 value)
  hex_of("${key}" TRUE key_hex)
  hex_of("${value}" TRUE value_hex)
  # The key, its terminator and padding, then the value.
  string(REGEX MATCH "${key_hex}(00)+${value_hex}0000" entry "${bytes}")
  string(LENGTH "${entry}" entry_length)
  expect("${key} is \"${value}\"" entry_length GREATER 0)
endforeach()

hex_of("QUON_SIG,name=quon_script_helper,type=LIB,version=4.8.6.0,date=16/06/2017,author=" FALSE signature)
string(FIND "${bytes}" "${signature}" at)
# A hex digit pair is one byte; a match at an odd digit is none.
math(EXPR odd "${at} % 2")
expect("the signature record is in the file" at GREATER -1 AND odd EQUAL 0)
if(at GREATER -1 AND odd EQUAL 0)
  math(EXPR offset "${at} / 2")
  string(LENGTH "${signature}" signature_digits)
  math(EXPR after "${at} + ${signature_digits}")
  string(SUBSTRING "${bytes}" ${after} 2 author_first)
  expect("the signature names an author" NOT author_first STREQUAL "00")

  # The section whose raw data holds the offset, from llvm-readobj's list.
  execute_process(COMMAND ${READOBJ} --sections ${MODULE} OUTPUT_VARIABLE sections)
  string(REGEX MATCHALL "Section {[^}]*}" blocks "${sections}")
  set(flags "")
  foreach(block IN LISTS blocks)
    string(REGEX MATCH "RawDataSize: ([0-9]+)" _ "${block}")
    set(size ${CMAKE_MATCH_1})
    string(REGEX MATCH "PointerToRawData: 0x([0-9A-Fa-f]+)" _ "${block}")
    math(EXPR start "0x${CMAKE_MATCH_1}")
    math(EXPR end "${start} + ${size}")
    if(offset GREATER_EQUAL start AND offset LESS end)
      set(flags "${block}")
    endif()
  endforeach()
  string(FIND "${flags}" "IMAGE_SCN_CNT_INITIALIZED_DATA" initialised)
  string(FIND "${flags}" "IMAGE_SCN_MEM_EXECUTE" executable)
  expect("the signature lies in initialised data" initialised GREATER -1 AND executable EQUAL -1)
endif()

# The module catches exceptions (nothing may unwind into the host), and
# 32-bit Windows runs only exception handlers registered in the image's
# load configuration, and none of an image marked as having none.
execute_process(COMMAND ${READOBJ} --file-headers --coff-load-config ${MODULE} OUTPUT_VARIABLE headers)
string(FIND "${headers}" "IMAGE_DLL_CHARACTERISTICS_NO_SEH" no_seh)
expect("the DLL is not marked as having no exception handlers" no_seh EQUAL -1)
set(handlers 0)
if(headers MATCHES "SEHandlerCount: ([0-9]+)")
  set(handlers ${CMAKE_MATCH_1})
endif()
expect("its load configuration registers its exception handlers (${handlers})" handlers GREATER 0)

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} check(s) failed")
endif()
