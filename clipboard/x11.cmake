# The X11 backend: the CLIPBOARD selection through xcb. The imported xcb
# target is global so that the tests' own X11 peer links the same library.
find_package(PkgConfig REQUIRED)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET GLOBAL xcb)

# Linked as Debian links it, dynamically, so that a security update to the
# system's libxcb reaches quillmore. libXau finds the authorization for the
# connection, which quillmore makes itself to bound its wait.
pkg_check_modules(XAU REQUIRED IMPORTED_TARGET xau)

add_library(quillmore_clipboard_x11 STATIC x11_clipboard_text.cc x11/connect.cc
                                            x11/session.cc x11/reading.cc x11/serving.cc)
target_include_directories(quillmore_clipboard_x11 PRIVATE ${XCB_INCLUDE_DIRS})
target_link_libraries(quillmore_clipboard_x11
                      PUBLIC quillmore_clipboard_api
                      PRIVATE quillmore_clipboard_linux_core PkgConfig::XCB
                              PkgConfig::XAU)
