# What both mingw-w64 toolchain files share, for the target named by
# VEXACOMM_MINGW_PREFIX. The -posix compilers carry the thread model that
# std::mutex and std::thread need; -static keeps the MinGW run-time (libgcc,
# libstdc++, winpthread) inside each binary, so the DLL and the programs
# import system DLLs only.
set(CMAKE_C_COMPILER ${VEXACOMM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXACOMM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXACOMM_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${VEXACOMM_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${VEXACOMM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Debian's wine package installs the launcher as /usr/bin/wine.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine)
