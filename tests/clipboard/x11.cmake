# The X11 backend and the quillmore program against a real X server: each
# test starts its own Xvfb and talks to xclip, xsel and x11_peer.
find_program(QUILLMORE_XVFB Xvfb REQUIRED)
find_program(QUILLMORE_XCLIP xclip REQUIRED)
find_program(QUILLMORE_XSEL xsel REQUIRED)

# A small clipboard program of the suite's own, for the owners and the
# clipboard manager that xclip and xsel cannot play.
add_executable(x11_peer x11_peer.cc)
target_link_libraries(x11_peer PRIVATE PkgConfig::XCB)

add_executable(x11_clipboard_test x11_clipboard_test.cc x11_harness.cc)
target_link_libraries(x11_clipboard_test PRIVATE quillmore_layout
                                                 ${QUILLMORE_GTEST})
target_include_directories(x11_clipboard_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(
  x11_clipboard_test
  PRIVATE QUILLMORE_BINARY="$<TARGET_FILE:quillmore>"
          X11_PEER_BINARY="$<TARGET_FILE:x11_peer>"
          TEST_TEMP_DIR="${CMAKE_CURRENT_BINARY_DIR}")
add_dependencies(x11_clipboard_test quillmore x11_peer)
# Failures quillmore reports here are meant; a dead session bus address keeps
# them off the desktop of whoever runs the tests.
gtest_discover_tests(
  x11_clipboard_test
  PROPERTIES LABELS x11 TIMEOUT 60
             ENVIRONMENT "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent")

# Hostile programs and a hostile X server, one table of cases in a script.
add_test(NAME x11_hostile
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/x11_hostile_test.sh
                 $<TARGET_FILE:quillmore> $<TARGET_FILE:x11_peer>
                 $<TARGET_FILE:hostile_peer>)
set_tests_properties(x11_hostile PROPERTIES LABELS x11 TIMEOUT 240)
