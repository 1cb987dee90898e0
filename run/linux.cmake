# quillmore on Linux desktops: the run on the Wayland or the X11 clipboard.
add_executable(quillmore main_linux.cc)
target_link_libraries(quillmore PRIVATE quillmore_run quillmore_clipboard)
# Started anew for every use: the C++ runtime linked in spares loading it
# each time. Sanitizer builds keep the shared runtime their tools expect.
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  target_link_options(quillmore PRIVATE -static-libstdc++ -static-libgcc)
endif()
