# The packages a user installs, made by CPack from the install rules:
# `cmake --build build --target package` writes the Debian package of the
# native program, the same target in the MinGW tree the Windows zip.
set(CPACK_PACKAGE_NAME vantrel-saver)
set(CPACK_PACKAGE_VENDOR "the Vantrel team")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen saver of bombs in flight and a slideshow")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Only binary packages; the source is the repository.
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  # One folder's worth: the program, how to install it, the licence. Text
  # files get Windows line ends, for Notepad.
  install(TARGETS VantrelSaver RUNTIME DESTINATION .)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VANTREL_ZIP_SYSTEMS "64-bit Windows Vista to 11 (the 32-bit zip runs on both kinds)")
  else()
    set(VANTREL_ZIP_SYSTEMS "Windows Vista to 11, 32-bit or 64-bit")
  endif()
  configure_file(dist/windows/README.txt.in ${CMAKE_BINARY_DIR}/dist/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE ${CMAKE_BINARY_DIR}/dist/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/dist/README.txt ${CMAKE_BINARY_DIR}/dist/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME VantrelSaver-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME VantrelSaver-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # What Debian expects beside the program: the manual page and changelog
  # compressed without a time stamp (the package is the same for the same
  # sources), the copyright file, a menu entry for the settings dialog, the
  # icon drawn by our own generator at the sizes desktops look for, and the
  # command on the PATH.
  find_program(VANTREL_GZIP gzip REQUIRED)
  set(dist_out ${CMAKE_BINARY_DIR}/dist)
  foreach(file vantrel-saver.6 changelog.Debian)
    add_custom_command(OUTPUT ${dist_out}/${file}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/dist/${file} ${dist_out}/${file}
      COMMAND ${VANTREL_GZIP} -9nf ${dist_out}/${file}
      DEPENDS ${CMAKE_SOURCE_DIR}/dist/${file}
      VERBATIM)
  endforeach()
  set(icon_sizes 16 32 48 64 128 256)
  set(icons)
  foreach(size ${icon_sizes})
    list(APPEND icons ${dist_out}/icons/${size}x${size}/apps/vantrel-saver.png)
  endforeach()
  add_custom_command(OUTPUT ${icons}
    COMMAND artgen --icons ${dist_out}/icons
    DEPENDS artgen
    COMMENT "Drawing the icon for the desktop"
    VERBATIM)
  add_custom_target(vantrel_dist ALL DEPENDS ${dist_out}/vantrel-saver.6.gz ${dist_out}/changelog.Debian.gz ${icons})

  install(FILES ${dist_out}/vantrel-saver.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
  install(FILES dist/copyright ${dist_out}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vantrel-saver)
  # The menu entry opens the settings panel; the session's autostart entry
  # starts the watcher. Both name the program where it really is, in the
  # module folder, which is only known at install time: a package is
  # installed under a prefix of its own.
  set(VANTREL_AUTOSTART_DIR /etc/xdg/autostart CACHE PATH
      "Where the session's autostart entries go (the watcher's)")
  install(CODE "
    set(module \"${VANTREL_XSCREENSAVER_MODULE_DIR}\")
    if(NOT IS_ABSOLUTE \"\${module}\")
      set(module \"\${CMAKE_INSTALL_PREFIX}/\${module}\")
    endif()
    set(VANTREL_PROGRAM \"\${module}/vantrel-saver\")
    # An Exec line would need quoting for these; a plain path needs none.
    if(VANTREL_PROGRAM MATCHES \"[^-A-Za-z0-9_./+]\")
      message(FATAL_ERROR \"The program's installed path cannot go into a desktop entry as it is: \${VANTREL_PROGRAM}\")
    endif()
    foreach(entry vantrel-saver-settings vantrel-saver-watch)
      configure_file(\"${CMAKE_SOURCE_DIR}/dist/\${entry}.desktop.in\" \"${dist_out}/\${entry}.desktop\" @ONLY)
    endforeach()
  ")
  install(FILES ${dist_out}/vantrel-saver-settings.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${dist_out}/vantrel-saver-watch.desktop DESTINATION ${VANTREL_AUTOSTART_DIR})
  install(DIRECTORY ${dist_out}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  # A relative link, so the tree works wherever it is unpacked; the prefix is
  # read at install time, since CPack installs under a prefix of its own.
  install(CODE "
    set(module \"${VANTREL_XSCREENSAVER_MODULE_DIR}\")
    if(NOT IS_ABSOLUTE \"\${module}\")
      set(module \"\${CMAKE_INSTALL_PREFIX}/\${module}\")
    endif()
    set(bin \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(RELATIVE_PATH target \"\${bin}\" \"\${module}/vantrel-saver\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${bin}\")
    message(STATUS \"Installing: \$ENV{DESTDIR}\${bin}/vantrel-saver -> \${target}\")
    file(CREATE_LINK \"\${target}\" \"\$ENV{DESTDIR}\${bin}/vantrel-saver\" SYMBOLIC)
  ")

  set(CPACK_GENERATOR DEB)
  # The autostart entry's folder is absolute (/etc): staged under DESTDIR,
  # never written to the building machine's own /etc. Files there are the
  # administrator's to change, which dpkg keeps across upgrades.
  set(CPACK_SET_DESTDIR ON)
  file(CONFIGURE OUTPUT ${dist_out}/conffiles CONTENT "${VANTREL_AUTOSTART_DIR}/vantrel-saver-watch.desktop\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${dist_out}/conffiles)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_PREFIX /usr)  # the prefix of an install staged under DESTDIR
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION x11)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(VANTREL_PACKAGE_MAINTAINER "the Vantrel team <team@vantrel.example.org>" CACHE STRING
      "Maintainer field of the Debian package")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VANTREL_PACKAGE_MAINTAINER})
  set(CPACK_PACKAGE_DESCRIPTION "Bombs glide across a dark backdrop, and a slideshow of pictures takes
turns with them. Runs as a display module of XScreenSaver, or on its own
full screen or in a preview window; the settings dialog is in the menu.")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xscreensaver)
endif()

include(CPack)
