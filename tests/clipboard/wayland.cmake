# The Wayland backend and the quillmore program against a real compositor:
# each test starts its own headless sway and talks to wl-copy and wl-paste
# (and, for the choice between the two backends, to Xvfb and xclip).
find_program(QUILLMORE_SWAY sway REQUIRED)
find_program(QUILLMORE_WL_COPY wl-copy REQUIRED)
find_program(QUILLMORE_WL_PASTE wl-paste REQUIRED)

add_executable(wayland_clipboard_test wayland_clipboard_test.cc
                                      wayland_harness.cc x11_harness.cc)
target_link_libraries(wayland_clipboard_test PRIVATE quillmore_layout
                                                     ${QUILLMORE_GTEST})
target_include_directories(wayland_clipboard_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(wayland_clipboard_test
                           PRIVATE QUILLMORE_BINARY="$<TARGET_FILE:quillmore>")
add_dependencies(wayland_clipboard_test quillmore)
gtest_discover_tests(wayland_clipboard_test PROPERTIES LABELS wayland
                                                       TIMEOUT 60)
