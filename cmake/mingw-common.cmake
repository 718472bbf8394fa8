# Cross build for Windows with the mingw-w64 toolchain (posix threads model, so the C++
# runtime has its full threading support; everything is linked statically). Included by
# mingw-i686.cmake and mingw-x86_64.cmake, which set the processor.
set(CMAKE_SYSTEM_NAME Windows)
set(KESTOVA_MINGW_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTOVA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTOVA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTOVA_MINGW_TRIPLET}-windres)
set(KESTOVA_WIDL ${KESTOVA_MINGW_TRIPLET}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTOVA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Host packages' CMake files point at the host's /usr/include, which must never reach a
# Windows compile.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The .ocx and the test programs must need nothing but system DLLs under Wine or Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
