# Cross build of the Windows program on Linux: 64-bit Windows (x64) with the
# MinGW-w64 tool chain, tests run under Wine in its 64-bit prefix. The i386
# build (mingw-i686.cmake) stays the reference; this one is the same program
# for users who expect a 64-bit build, and runs on Windows on Arm by
# emulation. x86-64 has SSE2 by definition, so the vector scan needs no flag.
#
#   cmake -S . -B build/windows-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(quillmore_triplet x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
