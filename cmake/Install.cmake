# Install rules and the Debian package (cpack -G DEB): the program, its desktop entry, icons,
# AppStream data, manual page and copyright. Nothing of the tests or benchmarks is installed.
include(GNUInstallDirs)

install(TARGETS talvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT UNIX OR APPLE)
  return()
endif()

set(_res ${CMAKE_SOURCE_DIR}/resources)
set(_out ${CMAKE_BINARY_DIR}/install-data)
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/talvex)
# The web address is the about box's, kept in one header.
file(STRINGS ${CMAKE_SOURCE_DIR}/src/help/AboutInfo.h _website REGEX "define TALVEX_WEBSITE ")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" TALVEX_HOMEPAGE "${_website}")

# The desktop entry and AppStream data are named by the application id, which is also the icon
# name and the desktop file name the program gives itself.
configure_file(${_res}/${TALVEX_APP_ID}.desktop.in ${_out}/${TALVEX_APP_ID}.desktop @ONLY)
configure_file(${_res}/${TALVEX_APP_ID}.metainfo.xml.in ${_out}/${TALVEX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${_out}/${TALVEX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_out}/${TALVEX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

foreach(_size 16 32 48 64 128 256)
  install(FILES ${_res}/icons/talvex-${_size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
          RENAME ${TALVEX_APP_ID}.png)
endforeach()
install(FILES ${_res}/icons/talvex.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TALVEX_APP_ID}.svg)

# Manual pages and changelogs are shipped compressed, the same bytes on every build (gzip -n).
configure_file(${_res}/man/talvex.1.in ${_out}/talvex.1 @ONLY)
add_custom_command(
  OUTPUT ${_out}/talvex.1.gz ${_out}/changelog.gz
  COMMAND gzip -9nc ${_out}/talvex.1 > ${_out}/talvex.1.gz
  COMMAND gzip -9nc ${_res}/debian/changelog > ${_out}/changelog.gz
  DEPENDS ${_out}/talvex.1 ${_res}/debian/changelog
  COMMENT "Compressing the manual page and the changelog")
add_custom_target(talvex-install-data ALL DEPENDS ${_out}/talvex.1.gz ${_out}/changelog.gz)
install(FILES ${_out}/talvex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_out}/changelog.gz ${_res}/debian/copyright DESTINATION ${_docdir})

# The Debian package.
set(TALVEX_MAINTAINER "The Talvex developers <maintainers@talvex.dev>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvex)
set(CPACK_PACKAGE_VENDOR "The Talvex developers")
set(CPACK_PACKAGE_CONTACT "${TALVEX_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TALVEX_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TALVEX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its window-system plugin at run time, so no library dependency names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sbcl | clisp | ecl | guile-3.0 | newlisp | picolisp | clojure")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "small, fast IDE for Lisp dialects
Talvex edits Lisp source in tabs with Lisp colouring, line numbers and
bracket highlighting, and runs your own Lisp system (SBCL, CLISP, ECL, Guile,
newLISP, PicoLisp, Clojure, ...) as a child process whose answers stream into
a console pane below the editors. Shift+Enter sends the form before the caret
to the Lisp, Ctrl+Enter its macroexpand-1, Alt+Enter a pprint of it.")
include(CPack)
