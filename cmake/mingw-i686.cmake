# Cross build of the Windows program on Linux: 32-bit Windows (i386) with the
# MinGW-w64 tool chain, tests run under Wine.
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(quillmore_triplet i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Every 32-bit x86 CPU that runs a supported Windows has SSE2 (Windows 8 and
# later require it); the layout engine scans text with vector operations.
set(CMAKE_CXX_FLAGS_INIT "-msse2")
