# 32-bit x86 Linux with the host's GCC (Debian: g++-multilib, and the
# :i386 libraries the build links: libgtest-dev, libgmock-dev,
# libreadline-dev).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(FIND_LIBRARY_USE_LIB64_PATHS OFF)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# Where this machine's kernel runs no 32-bit program (tools/runs-i386), the
# build's programs run through qemu-i386, user-mode emulation (Debian:
# qemu-user): CTest starts every test through it, and the tests start the
# programs they run through it (QUON_TARGET_EMULATOR). Nothing machine-wide
# is used: no binfmt_misc handler. Where the kernel runs them, they run as
# they are. Set CMAKE_CROSSCOMPILING_EMULATOR to choose (empty: never).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../../tools/runs-i386
                  RESULT_VARIABLE quon_runs_i386 OUTPUT_QUIET ERROR_QUIET)
  set(quon_emulator "")
  if(NOT quon_runs_i386 EQUAL 0)
    find_program(quon_qemu_i386 qemu-i386 NO_CACHE)
    if(NOT quon_qemu_i386)
      message(FATAL_ERROR "This machine runs no 32-bit x86 program and has no qemu-i386 to run the "
                          "32-bit build's programs with (tools/install-deps linux32 installs qemu-user).")
    endif()
    set(quon_emulator ${quon_qemu_i386})
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR "${quon_emulator}" CACHE STRING
      "What runs the 32-bit programs (empty: this machine runs them)")
endif()
