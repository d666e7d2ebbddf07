# Checks of the Microsoft ABI build that need no Wine.
find_program(QUON_NM NAMES llvm-nm-14 llvm-nm REQUIRED)
# Against the platform's headers the module may call other operations (its
# inline members are the platform's): the project's list is for its own.
if(QUON_PLATFORM_SDK)
  set(string_exports -DSTRING_LIBRARY=${QUON_PLATFORM_SDK}/quon_string.lib)
  set(string_library ${string_exports})
else()
  set(string_exports -DSTRING_LIBRARY=$<TARGET_FILE:quon_string>)
  set(string_library ${string_exports} -DCALLS=${CMAKE_CURRENT_SOURCE_DIR}/string_library_calls.txt)
endif()
add_test(NAME windows.msvc_imports
  COMMAND ${CMAKE_COMMAND} -DREADOBJ=${QUON_READOBJ} -DNM=${QUON_NM} -DMODULE=$<TARGET_FILE:Korvane>
          ${string_library} -DRUNTIME=msvcrt.dll -P ${CMAKE_CURRENT_SOURCE_DIR}/check_imports.cmake)

# The template component: its one export and its imports, as Korvane's
# (the string-library operations it calls are its own, so not listed).
add_test(NAME windows.msvc_imports.tally
  COMMAND ${CMAKE_COMMAND} -DREADOBJ=${QUON_READOBJ} -DNM=${QUON_NM} -DMODULE=$<TARGET_FILE:Tally>
          ${string_exports} -DRUNTIME=msvcrt.dll -P ${CMAKE_CURRENT_SOURCE_DIR}/check_imports.cmake)

add_test(NAME windows.msvc_module_file
  COMMAND ${CMAKE_COMMAND} -DREADOBJ=${QUON_READOBJ} -DMODULE=$<TARGET_FILE:Korvane>
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_module_file.cmake)

# QUON_PLATFORM_SDK in use: a folder laid out as the platform's SDK, made
# from the project's own headers and import library, and a second build of
# the module against it.
if(NOT QUON_PLATFORM_SDK)
  add_test(NAME windows.msvc_platform_sdk
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DWORK=${PROJECT_BINARY_DIR}/platform_sdk_check
            -DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE} -DIMPORT_LIBRARY=$<TARGET_LINKER_FILE:quon_string>
            -DREADOBJ=${QUON_READOBJ} -DNM=${QUON_NM}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/platform_sdk_check.cmake)
  set_tests_properties(windows.msvc_platform_sdk PROPERTIES TIMEOUT 900 RUN_SERIAL ON)
endif()
