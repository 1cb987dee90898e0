# The X11 backend: the CLIPBOARD selection through xcb. The imported xcb
# target is global so that the tests' own X11 peer links the same library.
find_package(PkgConfig REQUIRED)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET GLOBAL xcb)

# quillmore is started for every use and lives a few milliseconds, of which
# loading shared libraries would be a good part: xcb and the libraries it
# needs (libXau, libXdmcp, and through them libbsd and libmd) cost about
# 0.5 ms of a 3 ms run, measured side by side (bench/x11_roundtrip with
# QUILLMORE_OTHER). So they are linked from their archives when those
# exist; libXau also finds the authorization for the connection, which
# quillmore makes itself to bound its wait. -DQUILLMORE_STATIC_XCB=OFF links
# the system's shared libraries instead (the package then depends on
# libxcb1).
option(QUILLMORE_STATIC_XCB "Link libxcb and libXau from their archives" ON)
pkg_check_modules(XAU REQUIRED IMPORTED_TARGET xau)
set(quillmore_xcb PkgConfig::XCB PkgConfig::XAU)
set(quillmore_xcb_archives)
foreach(lib IN LISTS XCB_STATIC_LIBRARIES)
  if(NOT QUILLMORE_STATIC_XCB)
    break()
  endif()
  find_library(QUILLMORE_ARCHIVE_${lib} NAMES lib${lib}.a)
  if(NOT QUILLMORE_ARCHIVE_${lib})
    set(quillmore_xcb_archives)
    break()
  endif()
  list(APPEND quillmore_xcb_archives ${QUILLMORE_ARCHIVE_${lib}})
endforeach()
if(quillmore_xcb_archives)
  set(quillmore_xcb ${quillmore_xcb_archives})
endif()

add_library(quillmore_clipboard_x11 STATIC x11_clipboard_text.cc x11/connect.cc
                                            x11/session.cc x11/reading.cc x11/serving.cc)
target_include_directories(quillmore_clipboard_x11 PRIVATE ${XCB_INCLUDE_DIRS})
target_link_libraries(quillmore_clipboard_x11
                      PUBLIC quillmore_clipboard_api
                      PRIVATE quillmore_clipboard_linux_core ${quillmore_xcb})
