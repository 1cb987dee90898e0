# The X11 backend: the CLIPBOARD selection through xcb.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
  set(quillmore_xcb PkgConfig::XCB)
else()
  find_library(quillmore_xcb xcb REQUIRED)
endif()

add_library(quillmore_clipboard STATIC x11_clipboard_text.cc)
target_link_libraries(quillmore_clipboard PUBLIC quillmore_clipboard_api
                                          PRIVATE ${quillmore_xcb})
set(QUILLMORE_TEXT_UNIT char)
set(QUILLMORE_TEXT_UNIT char PARENT_SCOPE)
