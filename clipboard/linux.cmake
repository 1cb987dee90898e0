# Linux desktops: the X11 and the Wayland backend, both always built, and the
# choice between them at run time (linux_clipboard_text.cc). What the two
# share (text conversions, the forked server) is in linux_shared.cc.
add_library(quillmore_clipboard_linux_shared STATIC linux_shared.cc)
target_link_libraries(quillmore_clipboard_linux_shared
                      PUBLIC quillmore_clipboard_api)

include(x11.cmake)
include(wayland.cmake)

add_library(quillmore_clipboard STATIC linux_clipboard_text.cc)
target_link_libraries(quillmore_clipboard
                      PUBLIC quillmore_clipboard_api
                      PRIVATE quillmore_clipboard_x11
                              quillmore_clipboard_wayland)
