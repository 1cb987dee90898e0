# quillmore.exe: the Windows program. A graphical-subsystem executable (no
# console opens when it starts), linked statically so it is one file that
# needs no MinGW DLLs, with its icon and version record built in.
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The icon is drawn by a script, so it can be changed and rebuilt like code.
set(quillmore_icon ${CMAKE_CURRENT_BINARY_DIR}/quillmore.ico)
add_custom_command(
  OUTPUT ${quillmore_icon}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/dist/make_icon.py
          ${quillmore_icon}
  DEPENDS ${PROJECT_SOURCE_DIR}/dist/make_icon.py
  COMMENT "Drawing quillmore.ico"
  VERBATIM)
configure_file(quillmore.rc.in ${CMAKE_CURRENT_BINARY_DIR}/quillmore.rc @ONLY)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/quillmore.rc PROPERTIES OBJECT_DEPENDS
                                                    ${quillmore_icon})

# The failure report's message box, on its own so tests can show one.
add_library(quillmore_failure_box STATIC failure_box_windows.cc)
target_include_directories(quillmore_failure_box PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillmore_failure_box PRIVATE user32)

add_executable(quillmore WIN32 main_windows.cc
                         ${CMAKE_CURRENT_BINARY_DIR}/quillmore.rc)
# The resource compiler finds the generated icon through the include path.
target_include_directories(quillmore PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(quillmore PRIVATE quillmore_run quillmore_clipboard
                                        quillmore_failure_box)
target_link_options(quillmore PRIVATE -static -static-libgcc
                    -static-libstdc++ $<$<CONFIG:Release,MinSizeRel>:-s>)

# The filter goes into the same zip: stripped too, so it holds no debugging
# symbols that nobody on Windows reads.
target_link_options(quillmore-layout PRIVATE
                    $<$<CONFIG:Release,MinSizeRel>:-s>)
