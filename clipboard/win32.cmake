# The Windows backend: the Win32 clipboard, text as UTF-16 code units.
add_library(quillmore_clipboard STATIC win32_clipboard_text.cc)
target_include_directories(quillmore_clipboard PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillmore_clipboard PUBLIC quillmore_clipboard_api
                                          PRIVATE user32 kernel32)
