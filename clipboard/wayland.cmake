# The Wayland backend: the selection through the data-control protocols,
# whose client glue wayland-scanner generates from the descriptions in
# protocols/ (the distribution ships neither description).
# The generated glue (interface tables) is C.
enable_language(C)
find_package(PkgConfig REQUIRED)
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET GLOBAL wayland-client)
pkg_get_variable(WAYLAND_SCANNER_FROM_PC wayland-scanner wayland_scanner)
find_program(WAYLAND_SCANNER NAMES wayland-scanner
             HINTS "${WAYLAND_SCANNER_FROM_PC}" REQUIRED)

# quillmore_wayland_glue(SIDE DIR VAR): wayland-scanner's SIDE (client or
# server) glue of both data-control protocols, generated into DIR; VAR lists
# the generated files. The tests' compositor takes the server side.
function(quillmore_wayland_glue side dir var)
  file(MAKE_DIRECTORY ${dir})
  set(files)
  foreach(protocol ext-data-control-v1 wlr-data-control-unstable-v1)
    set(xml ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/protocols/${protocol}.xml)
    set(header ${dir}/${protocol}-${side}-protocol.h)
    set(code ${dir}/${protocol}-protocol.c)
    add_custom_command(
      OUTPUT ${header} ${code}
      COMMAND ${WAYLAND_SCANNER} ${side}-header ${xml} ${header}
      COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code}
      DEPENDS ${xml}
      COMMENT "Generating the ${side} glue of ${protocol}")
    list(APPEND files ${header} ${code})
  endforeach()
  set(${var} ${files} PARENT_SCOPE)
endfunction()

set(quillmore_protocol_dir ${CMAKE_CURRENT_BINARY_DIR}/protocols)
quillmore_wayland_glue(client ${quillmore_protocol_dir}
                       quillmore_protocol_sources)

# The generated glue as a library of its own, for the tests' Wayland peers,
# which link libwayland-client as usual.
add_library(quillmore_wayland_protocols STATIC ${quillmore_protocol_sources})
target_include_directories(quillmore_wayland_protocols
                           PUBLIC ${quillmore_protocol_dir})
target_link_libraries(quillmore_wayland_protocols
                      PUBLIC PkgConfig::WAYLAND_CLIENT)

# quillmore itself opens libwayland-client only where a Wayland session is
# named (wayland/libwayland.cc): it is not linked, and the interface tables
# of the core protocol, which the glue points at, are generated here too.
pkg_get_variable(WAYLAND_PROTOCOL_DIR wayland-scanner pkgdatadir)
set(quillmore_core_glue ${quillmore_protocol_dir}/wayland-protocol.c)
add_custom_command(
  OUTPUT ${quillmore_core_glue}
  COMMAND ${WAYLAND_SCANNER} private-code ${WAYLAND_PROTOCOL_DIR}/wayland.xml
          ${quillmore_core_glue}
  DEPENDS ${WAYLAND_PROTOCOL_DIR}/wayland.xml
  COMMENT "Generating the interface tables of the core protocol")

add_library(quillmore_clipboard_wayland STATIC
            wayland_clipboard_text.cc wayland/connection.cc
            wayland/data_control.cc wayland/reading.cc wayland/libwayland.cc ${quillmore_protocol_sources}
            ${quillmore_core_glue})
target_include_directories(quillmore_clipboard_wayland
                           PRIVATE ${quillmore_protocol_dir}
                                   ${WAYLAND_CLIENT_INCLUDE_DIRS})
target_link_libraries(quillmore_clipboard_wayland
                      PUBLIC quillmore_clipboard_api ${CMAKE_DL_LIBS}
                      PRIVATE quillmore_clipboard_linux_core)
