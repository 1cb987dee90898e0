# Tests of the Windows program and its clipboard backend. They run under Wine
# (see scripts/test) against Wine's real clipboard, with a peer made of plain
# Win32 calls; all of them share the one clipboard, so they never run at the
# same time.
add_library(quillmore_win32_peer STATIC win32_clipboard_peer.cc)
target_include_directories(quillmore_win32_peer PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillmore_win32_peer PUBLIC user32 gdi32)

set(quillmore_win32_test_properties RESOURCE_LOCK windows_clipboard TIMEOUT 300)

add_executable(win32_clipboard_text_test win32_clipboard_text_test.cc)
target_link_libraries(win32_clipboard_text_test PRIVATE quillmore_clipboard
                      quillmore_win32_peer ${QUILLMORE_GTEST})
gtest_discover_tests(win32_clipboard_text_test DISCOVERY_TIMEOUT 120
                     PROPERTIES ${quillmore_win32_test_properties})

add_executable(win32_failure_box_test win32_failure_box_test.cc)
target_link_libraries(win32_failure_box_test PRIVATE quillmore_failure_box
                      quillmore_win32_peer ${QUILLMORE_GTEST})
gtest_discover_tests(win32_failure_box_test DISCOVERY_TIMEOUT 120
                     PROPERTIES ${quillmore_win32_test_properties})

# End to end: quillmore.exe started as a process of its own. The test finds
# the program beside itself.
add_executable(win32_program_test win32_program_test.cc)
target_link_libraries(win32_program_test PRIVATE quillmore_win32_peer
                      ${QUILLMORE_GTEST})
set_target_properties(win32_program_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                      $<TARGET_FILE_DIR:quillmore>)
add_dependencies(win32_program_test quillmore)
gtest_discover_tests(win32_program_test DISCOVERY_TIMEOUT 120
                     PROPERTIES ${quillmore_win32_test_properties})

# The program's identity (machine, subsystem, imports, size, version record,
# icon), read from the built file by pefile. Debian's pefile belongs to the
# system's Python, which need not be the first python3 on the PATH.
find_program(QUILLMORE_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH
             REQUIRED)
add_test(NAME win32_identity
         COMMAND ${QUILLMORE_SYSTEM_PYTHON3}
                 ${CMAKE_CURRENT_SOURCE_DIR}/win32_identity_test.py
                 $<TARGET_FILE:quillmore> ${PROJECT_SOURCE_DIR}/dist/make_icon.py
                 ${PROJECT_BINARY_DIR}/generated/run/version.h)

# The layout filter's Windows input and output (binary, whole-stream).
add_test(NAME win32_layout_filter
         COMMAND ${CMAKE_COMMAND} -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
                 -DFILTER=$<TARGET_FILE:quillmore-layout>
                 -DWORK=${CMAKE_CURRENT_BINARY_DIR}/win32_layout_filter
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/win32_layout_filter_test.cmake)
