# What both Windows cross builds (mingw-i686.cmake, mingw-x86_64.cmake)
# share, given quillmore_triplet: the MinGW-w64 tool chain, tests under Wine.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX thread model: its C++ library has std::thread and std::mutex
# (through winpthreads, linked in statically), which GoogleTest needs.
set(CMAKE_C_COMPILER ${quillmore_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${quillmore_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${quillmore_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${quillmore_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable of the cross build links the compiler's run-time libraries
# in, so none of them needs a MinGW DLL beside it: the program is copied to a
# machine as one file, and the tests run under Wine without a DLL path.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine, in the Wine session that scripts/wine-env
# sets up (the wrapper refuses to run without one).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-emulator)
# Listing a test program's tests means starting Wine, which is slow the first
# time; list them when the tests run rather than during the build.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
