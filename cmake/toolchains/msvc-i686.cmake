# 32-bit x86 Windows in the Microsoft C++ ABI: the vtable layout, name
# decoration and exception handling of a host built with the Microsoft
# compiler. clang compiles for i686-pc-windows-msvc, lld-link links, llvm-rc
# builds the version resource (Debian: clang-14, lld-14, llvm-14). The C
# declarations come from MinGW-w64's headers (mingw-w64-i686-dev); the
# import libraries of the DLLs used are made from msvc_abi/*.def (see
# cmake/msvc_abi.cmake). Programs built here run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_AR llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)
set(QUON_MSVC_ABI ON CACHE BOOL "Build in the Microsoft C++ ABI" FORCE)
set(QUON_MINGW_INCLUDE /usr/i686-w64-mingw32/include)

# MinGW-w64's headers take the compiler for GCC when told a GNU version, and
# need the architecture named the way GCC names it.
set(CMAKE_CXX_FLAGS_INIT "-fgnuc-version=4.2.1 -D_X86_ -isystem ${QUON_MINGW_INCLUDE}")
set(CMAKE_RC_FLAGS_INIT "-I ${QUON_MINGW_INCLUDE}")
# No default libraries: every DLL the build imports from is named in
# cmake/msvc_abi.cmake, and there is no C runtime start-up code to link.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld-link -nostdlib")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld-link -nostdlib")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld-link -nostdlib")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
# The compiler checks link no program: there is no start-up code to link one.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
