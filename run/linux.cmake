# quillmore on Linux desktops: the run on the Wayland or the X11 clipboard.
add_executable(quillmore main_linux.cc desktop_notification_linux.cc)
target_link_libraries(quillmore PRIVATE quillmore_run quillmore_clipboard)
# A failure is also shown as a desktop notification through sd-bus. Only the
# header is used at build time: libsystemd is opened when there is a failure
# to show, not loaded on every run.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SYSTEMD REQUIRED libsystemd)
target_include_directories(quillmore PRIVATE ${SYSTEMD_INCLUDE_DIRS})
target_link_libraries(quillmore PRIVATE ${CMAKE_DL_LIBS})
# Started anew for every use: the C++ runtime linked in spares loading it
# each time. Sanitizer builds keep the shared runtime their tools expect.
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  target_link_options(quillmore PRIVATE -static-libstdc++ -static-libgcc)
endif()
