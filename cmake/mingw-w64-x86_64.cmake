# Cross-compiles eqsim for 64-bit Windows with MinGW-w64 (Debian package
# g++-mingw-w64-x86-64-posix), linked statically so that the executables need no DLLs.
# Tests run under Wine (package wine64) through the cross-compiling emulator.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(EQSIM_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model, so that std::thread and friends work.
set(CMAKE_C_COMPILER ${EQSIM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${EQSIM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${EQSIM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${EQSIM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLLs to ship: the C++ runtime, libgcc and winpthread go into each executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(EQSIM_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(EQSIM_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${EQSIM_WINE})
endif()
