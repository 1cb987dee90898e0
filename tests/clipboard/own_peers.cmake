# The tests' own Wayland compositor and clipboard peers, for the cases no
# standard program can make (each says why in its first comment).
set(quillmore_peers_dir ${CMAKE_CURRENT_LIST_DIR})
# The generated glue (interface tables) is C.
enable_language(C)
find_package(PkgConfig REQUIRED)
pkg_check_modules(WAYLAND_SERVER REQUIRED IMPORTED_TARGET wayland-server)
pkg_check_modules(XCB_PEER REQUIRED IMPORTED_TARGET xcb)

# The compositor's server glue, generated from the same descriptions as the
# backend's client glue.
set(quillmore_server_glue_dir ${CMAKE_CURRENT_BINARY_DIR}/server_protocols)
quillmore_wayland_glue(server ${quillmore_server_glue_dir} quillmore_server_glue)
add_executable(data_control_compositor
               ${quillmore_peers_dir}/data_control_compositor.cc
               ${quillmore_server_glue})
target_include_directories(data_control_compositor
                           PRIVATE ${quillmore_server_glue_dir})
target_link_libraries(data_control_compositor PRIVATE PkgConfig::WAYLAND_SERVER)

# The peers the standard tools cannot play, one program with modes.
add_executable(hostile_peer ${quillmore_peers_dir}/hostile_peer.cc
                            ${quillmore_peers_dir}/hostile_peer_x11.cc)
target_link_libraries(hostile_peer PRIVATE quillmore_wayland_protocols
                                           PkgConfig::XCB_PEER)
