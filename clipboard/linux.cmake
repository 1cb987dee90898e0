# Linux desktops: the X11 and the Wayland backend, both always built, and the
# choice between them at run time (linux_clipboard_text.cc). What the two
# share (the event loops' deadlines, the offered text and its codecs, the
# transfers, the forked server) is the core in linux/.
add_library(quillmore_clipboard_linux_core STATIC linux/text_codecs.cc
                                                  linux/clipboard_server.cc)
target_link_libraries(quillmore_clipboard_linux_core
                      PUBLIC quillmore_clipboard_api)

include(x11.cmake)
include(wayland.cmake)

add_library(quillmore_clipboard STATIC linux_clipboard_text.cc)
target_link_libraries(quillmore_clipboard
                      PUBLIC quillmore_clipboard_api
                      PRIVATE quillmore_clipboard_x11
                              quillmore_clipboard_wayland)
