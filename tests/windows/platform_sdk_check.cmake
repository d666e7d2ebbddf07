# Builds Korvane.dll with -DQUON_PLATFORM_SDK=DIR, DIR made here from the
# project's own string-library headers and import library, and checks that
# the build compiled against DIR's headers, linked DIR's import library,
# built no string library of its own, and imports what the module calls.
#
#   cmake -DSOURCE_DIR=... -DWORK=... -DTOOLCHAIN=... -DIMPORT_LIBRARY=quon_string.lib
#         -DREADOBJ=llvm-readobj -DNM=llvm-nm -P platform_sdk_check.cmake
cmake_minimum_required(VERSION 3.25)
set(sdk ${WORK}/sdk)
set(build ${WORK}/build)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${sdk})
file(COPY ${SOURCE_DIR}/include/quon_string.h ${SOURCE_DIR}/include/quon_stringlist.h
          ${SOURCE_DIR}/include/quon_string_export.h DESTINATION ${sdk})
file(COPY_FILE ${IMPORT_LIBRARY} ${sdk}/quon_string.lib)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -G Ninja -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=Release -DQUON_WARNINGS_AS_ERRORS=ON -DQUON_BUILD_TESTS=OFF -DQUON_PLATFORM_SDK=${sdk})
# Without ccache: a cache configured with base_dir records the headers by
# relative paths, which the checks below could not tell apart.
run(${CMAKE_COMMAND} -E env CCACHE_DISABLE=1 ${CMAKE_COMMAND} --build ${build} --target Korvane -j 2)

include(${CMAKE_CURRENT_LIST_DIR}/expect.cmake)

# The headers each object was compiled from, as the compiler reported them.
run(ninja -C ${build} -t deps)
set(deps "${output}")
string(FIND "${deps}" "${sdk}/quon_string.h" sdk_header)
string(FIND "${deps}" "${sdk}/quon_stringlist.h" sdk_list_header)
string(FIND "${deps}" "${SOURCE_DIR}/include/quon_string.h" own_header)
string(FIND "${deps}" "${SOURCE_DIR}/include/quon_stringlist.h" own_list_header)
expect("the module is compiled against DIR's quon_string.h and quon_stringlist.h" sdk_header GREATER -1 AND sdk_list_header GREATER -1)
expect("the project's own string-library headers are not read" own_header EQUAL -1 AND own_list_header EQUAL -1)

run(ninja -C ${build} -t commands Korvane)
string(FIND "${output}" "${sdk}/quon_string.lib" linked)
expect("the module links DIR's quon_string.lib" linked GREATER -1)
expect("no string library of the project's own is built" NOT EXISTS ${build}/bin/quon_string.dll)

execute_process(COMMAND ${CMAKE_COMMAND} -DREADOBJ=${READOBJ} -DNM=${NM} -DMODULE=${build}/bin/Korvane.dll
                        -DCALLS=${CMAKE_CURRENT_LIST_DIR}/string_library_calls.txt
                        -DSTRING_LIBRARY=${sdk}/quon_string.lib -DRUNTIME=msvcrt.dll
                        -P ${CMAKE_CURRENT_LIST_DIR}/check_imports.cmake
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
expect("the module built against DIR imports what it calls from quon_string.dll" status EQUAL 0)

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} check(s) failed")
endif()
