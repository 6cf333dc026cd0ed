# The Debian package: `cpack -G DEB` in the build folder makes
# tavo-uninstaller_<version>_<arch>.deb from what `cmake --install` installs.

# The programs a user runs, on the PATH: links into the bundle, where each
# finds its resources relative to itself.
set(TAVO_PATH_COMMANDS TAVO_Uninstaller tavo-scan tavo-uninstall)
foreach(command ${TAVO_PATH_COMMANDS})
  set(link ${CMAKE_BINARY_DIR}/path-commands/${command})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/path-commands)
  file(CREATE_LINK ../${TAVO_INSTALL_BUNDLE_DIR}/Contents/MacOS/${command} ${link} SYMBOLIC)
  install(FILES ${link} DESTINATION ${CMAKE_INSTALL_BINDIR} PERMISSIONS ${TAVO_FILE_PERMISSIONS})
endforeach()

# Desktop integration.
set(TAVO_DESKTOP_DIR ${PROJECT_SOURCE_DIR}/resources/desktop)
install(FILES ${TAVO_DESKTOP_DIR}/org.tavo.Uninstaller.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
  PERMISSIONS ${TAVO_FILE_PERMISSIONS})
install(FILES ${TAVO_DESKTOP_DIR}/org.tavo.Uninstaller.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  PERMISSIONS ${TAVO_FILE_PERMISSIONS})
install(FILES ${TAVO_DESKTOP_DIR}/org.tavo.Uninstaller.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
  PERMISSIONS ${TAVO_FILE_PERMISSIONS})

# Manual pages, compressed as Debian ships them.
set(TAVO_MAN_PAGES TAVO_Uninstaller.1 tavo-scan.1 tavo-uninstall.1 keyscrub.8 sweeper.8)
set(TAVO_MAN_OUTPUTS "")
foreach(page ${TAVO_MAN_PAGES})
  set(out ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/resources/man/${page} > ${out}
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/man/${page}
    VERBATIM)
  list(APPEND TAVO_MAN_OUTPUTS ${out})
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
    PERMISSIONS ${TAVO_FILE_PERMISSIONS})
endforeach()
add_custom_target(tavo_man_pages ALL DEPENDS ${TAVO_MAN_OUTPUTS})

# The package's own documentation: its copyright, and its changelog.
set(TAVO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tavo-uninstaller)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/copyright DESTINATION ${TAVO_DOC_DIR}
  PERMISSIONS ${TAVO_FILE_PERMISSIONS})
set(TAVO_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${TAVO_CHANGELOG}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/resources/desktop/changelog > ${TAVO_CHANGELOG}
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/desktop/changelog
  VERBATIM)
add_custom_target(tavo_changelog ALL DEPENDS ${TAVO_CHANGELOG})
install(FILES ${TAVO_CHANGELOG} DESTINATION ${TAVO_DOC_DIR}
  PERMISSIONS ${TAVO_FILE_PERMISSIONS})
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/tavo-uninstaller.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tavo-uninstaller
  PERMISSIONS ${TAVO_FILE_PERMISSIONS})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavo-uninstaller)
set(CPACK_PACKAGE_VENDOR "The TAVO Uninstaller developers")
set(CPACK_PACKAGE_CONTACT "TAVO Uninstaller developers <maintainers@tavo-uninstaller.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "remove the TAVO Player and its sample libraries")
set(CPACK_PACKAGE_DESCRIPTION
  "TAVO Uninstaller finds every trace that the installers of the TAVO Player and
its sample libraries left: files and folders, folders named in the player's
preferences, preset folders, installer receipts, preference files and values.
It removes the product you choose: files go to the Trash of their drive,
receipts are forgotten and preference values deleted, with one administrator
password through polkit. tavo-uninstall does the same from scripts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec, polkitd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
# Only what a user installs: the tests' tools are never part of it.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")
include(CPack)
