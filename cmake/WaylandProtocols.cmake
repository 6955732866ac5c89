# The client code of the Wayland protocols the worker speaks, generated at build time from the
# descriptions Debian ships (wayland-protocols, plasma-wayland-protocols).
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
find_package(PlasmaWaylandProtocols REQUIRED)
if(NOT WAYLAND_PROTOCOLS_DIR OR NOT WAYLAND_SCANNER)
  message(FATAL_ERROR "wayland-protocols and wayland-scanner are needed (Debian: wayland-protocols, libwayland-bin)")
endif()

set(DOZERIN_PROTOCOLS
  ${WAYLAND_PROTOCOLS_DIR}/staging/ext-idle-notify/ext-idle-notify-v1.xml
  ${PLASMA_WAYLAND_PROTOCOLS_DIR}/fake-input.xml
  ${PLASMA_WAYLAND_PROTOCOLS_DIR}/idle.xml
  ${PLASMA_WAYLAND_PROTOCOLS_DIR}/plasma-window-management.xml)
set(generated_dir ${CMAKE_BINARY_DIR}/wayland)
set(generated_sources)
foreach(xml ${DOZERIN_PROTOCOLS})
  get_filename_component(stem ${xml} NAME_WE)
  add_custom_command(
    OUTPUT ${generated_dir}/${stem}-client-protocol.h ${generated_dir}/${stem}-protocol.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated_dir}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${generated_dir}/${stem}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${generated_dir}/${stem}-protocol.c
    DEPENDS ${xml})
  list(APPEND generated_sources ${generated_dir}/${stem}-client-protocol.h
    ${generated_dir}/${stem}-protocol.c)
endforeach()
add_library(dozerin_wayland_protocols STATIC ${generated_sources})
target_include_directories(dozerin_wayland_protocols PUBLIC ${generated_dir})
target_link_libraries(dozerin_wayland_protocols PUBLIC PkgConfig::WAYLAND)
