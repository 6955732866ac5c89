# The two forms of the GNOME Shell extension, made from one text of its work (windows.js): the
# legacy extension for GNOME 43 and 44 and the module one for 45 and later, each in a folder named
# after its uuid under ${CMAKE_BINARY_DIR}/gnome-shell. Their metadata names the program allowed
# to read the windows as @PROGRAM@; installing puts the installed program's path there.
set(DOZERIN_SHELL_SOURCE ${PROJECT_SOURCE_DIR}/res/gnome-shell)
set(DOZERIN_SHELL_EXTENSIONS ${CMAKE_BINARY_DIR}/gnome-shell)
file(READ ${DOZERIN_SHELL_SOURCE}/windows.js body)
foreach(form legacy module)
  if(form STREQUAL "legacy")
    set(uuid dozerin@dozerin.org)
    set(head "/* exported WindowList */\n'use strict';\n\nconst {Gio, GLib} = imports.gi;\n\n")
    set(tail "\nvar WindowList = DozerinWindows;\n")
  else()
    set(uuid dozerin45@dozerin.org)
    set(head "import Gio from 'gi://Gio';\nimport GLib from 'gi://GLib';\n\n")
    set(tail "\nexport {DozerinWindows as WindowList};\n")
  endif()
  set(folder ${DOZERIN_SHELL_EXTENSIONS}/${uuid})
  file(WRITE ${folder}/windows.js "${head}${body}${tail}")
  configure_file(${DOZERIN_SHELL_SOURCE}/${form}/extension.js ${folder}/extension.js COPYONLY)
  configure_file(${DOZERIN_SHELL_SOURCE}/${form}/metadata.json ${folder}/metadata.json COPYONLY)
  install(DIRECTORY ${folder} DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions
    PATTERN metadata.json EXCLUDE)
  install(CODE "
    file(READ \"${folder}/metadata.json\" metadata)
    string(REPLACE @PROGRAM@ \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/dozerin\" metadata \"\${metadata}\")
    file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions/${uuid}/metadata.json\"
      \"\${metadata}\")")
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${DOZERIN_SHELL_SOURCE}/windows.js)
