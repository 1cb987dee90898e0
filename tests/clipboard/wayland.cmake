# The Wayland backend and the quillmore program against a real compositor:
# each test starts its own headless sway and talks to wl-copy and wl-paste
# (and, for the choice between the two backends, to Xvfb and xclip).
find_program(QUILLMORE_SWAY sway REQUIRED)
find_program(QUILLMORE_WL_COPY wl-copy REQUIRED)
find_program(QUILLMORE_WL_PASTE wl-paste REQUIRED)

# A small clipboard program of the suite's own, for the owners that wl-copy
# cannot play.
add_executable(wayland_peer wayland_peer.cc)
target_link_libraries(wayland_peer PRIVATE quillmore_wayland_protocols)

add_executable(wayland_clipboard_test wayland_clipboard_test.cc
                                      wayland_harness.cc x11_harness.cc)
target_link_libraries(wayland_clipboard_test PRIVATE quillmore_layout
                                                     ${QUILLMORE_GTEST})
target_include_directories(wayland_clipboard_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(
  wayland_clipboard_test
  PRIVATE QUILLMORE_BINARY="$<TARGET_FILE:quillmore>"
          WAYLAND_PEER_BINARY="$<TARGET_FILE:wayland_peer>"
          TEST_TEMP_DIR="${CMAKE_CURRENT_BINARY_DIR}")
add_dependencies(wayland_clipboard_test quillmore wayland_peer)
# As for X11: a dead session bus address keeps quillmore's meant failures
# off the desktop of whoever runs the tests.
gtest_discover_tests(
  wayland_clipboard_test
  PROPERTIES LABELS wayland TIMEOUT 60
             ENVIRONMENT "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent")
