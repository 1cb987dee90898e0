# Cross build of the Windows program on Linux: 64-bit Windows (x64) with the
# MinGW-w64 tool chain, tests run under Wine in its 64-bit prefix. The i386
# build (mingw-i686.cmake) stays the reference; this one is the same program
# for users who expect a 64-bit build, and runs on Windows on Arm by
# emulation.
#
#   cmake -S . -B build/windows-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(quillmore_triplet x86_64-w64-mingw32)
# The POSIX thread model, as in the i386 build: GoogleTest needs std::thread.
set(CMAKE_C_COMPILER ${quillmore_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${quillmore_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${quillmore_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${quillmore_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# x86-64 has SSE2 by definition, so no flag is needed for the vector scan.

# Single files, as in the i386 build: the compiler's run-time libraries are
# linked in, so no MinGW DLL goes beside a program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-emulator)
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
