# The Microsoft ABI build (cmake/toolchains/msvc-i686.cmake): import
# libraries for the C runtime DLL, the runtime support every DLL and program
# links, and the string library a module is built against.
find_program(QUON_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED)
find_program(QUON_READOBJ NAMES llvm-readobj-14 llvm-readobj REQUIRED)

# Import libraries made from lists of what the build uses (msvc_abi/*.def),
# so that a function not listed fails the link instead of pulling something
# new in. msvcrt.dll is the C runtime of Windows itself, there on every
# Windows and under Wine, and the one MinGW-w64's headers declare.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/msvc_abi)
set(QUON_IMPORT_LIBS)
foreach(dll msvcrt kernel32 version)
  set(lib ${PROJECT_BINARY_DIR}/msvc_abi/${dll}.lib)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${QUON_DLLTOOL} -m i386 -k -d ${PROJECT_SOURCE_DIR}/msvc_abi/${dll}.def -l ${lib}
    DEPENDS ${PROJECT_SOURCE_DIR}/msvc_abi/${dll}.def
    COMMENT "Import library for ${dll}.dll")
  list(APPEND QUON_IMPORT_LIBS ${lib})
  set(QUON_${dll}_LIB ${lib})
endforeach()
add_custom_target(quon_import_libs DEPENDS ${QUON_IMPORT_LIBS})

add_library(quon_msvc_runtime STATIC ${PROJECT_SOURCE_DIR}/msvc_abi/runtime.cpp)
quon_warnings(quon_msvc_runtime)
add_dependencies(quon_msvc_runtime quon_import_libs)
target_link_libraries(quon_msvc_runtime INTERFACE ${QUON_msvcrt_LIB} ${QUON_kernel32_LIB})

# Every C++ target of this build gets the runtime support, and no start-up
# code: DLLs have no entry point, programs the one of program_entry.cpp.
link_libraries(quon_msvc_runtime)
add_compile_options(-Werror=global-constructors -Werror=exit-time-destructors)
set(CMAKE_SHARED_LINKER_FLAGS "${CMAKE_SHARED_LINKER_FLAGS} -Wl,/noentry")
set(CMAKE_MODULE_LINKER_FLAGS "${CMAKE_MODULE_LINKER_FLAGS} -Wl,/noentry")
add_library(quon_program_entry OBJECT ${PROJECT_SOURCE_DIR}/msvc_abi/program_entry.cpp)
quon_warnings(quon_program_entry)
