# The X11 backend: the CLIPBOARD selection through xcb. The imported xcb
# target is global so that the tests' own X11 peer links the same library.
find_package(PkgConfig REQUIRED)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET GLOBAL xcb)

add_library(quillmore_clipboard_x11 STATIC x11_clipboard_text.cc)
target_link_libraries(quillmore_clipboard_x11
                      PUBLIC quillmore_clipboard_api
                      PRIVATE quillmore_clipboard_linux_shared PkgConfig::XCB)
