# quillmore on Linux desktops: the run on the Wayland or the X11 clipboard.
add_executable(quillmore main_linux.cc)
target_link_libraries(quillmore PRIVATE quillmore_run quillmore_clipboard)
