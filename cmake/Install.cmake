# What `cmake --install` puts where, and the packages CPack makes of it.
#
#   bin/velmorante                  the launcher: changes into share/velmorante and
#                                   runs the demo there with every argument unchanged;
#                                   answers --help, -h and --version itself
#   libexec/velmorante/velmorante   the demo itself, off PATH
#   bin/velmorante-capture          (when the tools are built)
#   share/velmorante/               the three data files the demo reads from its
#                                   working directory
#   share/applications/, share/icons/hicolor/NxN/apps/, share/man/man1, man6
#   share/doc/velmorante/           LICENSE, the font's licence, CHANGELOG.md; the
#                                   Debian package has copyright, changelog.gz and
#                                   changelog.Debian.gz there instead
#
# Every destination is relative to the prefix and the launcher finds the data
# relative to itself, so an installed tree (or the tarball) can be moved. The
# layout's folders are set in cmake/Facts.cmake.

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME velmorante)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(VELMORANTE_MAINTAINER "Velmorante maintainers <velmorante@example.org>"
    CACHE STRING "The maintainer named in the Debian package and its changelog")
set(VELMORANTE_RELEASE_DATE "Tue, 08 Dec 2026 12:00:00 +0000"
    CACHE STRING "The date of the release, RFC 5322, for the Debian changelog")
set(VELMORANTE_DEBIAN_REVISION 1)  # the Debian package is version ${PROJECT_VERSION}-${VELMORANTE_DEBIAN_REVISION}
set(install_dir ${PROJECT_SOURCE_DIR}/tools/install)
set(staging ${PROJECT_BINARY_DIR}/install)

# ---- The demo, its launcher and its data ------------------------------------------
install(TARGETS velmorante RUNTIME DESTINATION ${VELMORANTE_INSTALL_PROGDIR})

configure_file(${install_dir}/velmorante.in ${staging}/bin/velmorante @ONLY)
install(PROGRAMS ${staging}/bin/velmorante DESTINATION ${CMAKE_INSTALL_BINDIR})

list(TRANSFORM VELMORANTE_DATA_FILES PREPEND data/ OUTPUT_VARIABLE data_files)
install(FILES ${data_files} DESTINATION ${VELMORANTE_INSTALL_DATADIR})

if(TARGET velmorante-capture)
  install(TARGETS velmorante-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# ---- Desktop entry and icons ------------------------------------------------------------
install(FILES ${install_dir}/velmorante.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size ${VELMORANTE_ICON_SIZES})
  install(FILES ${install_dir}/icons/velmorante-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME velmorante.png)
endforeach()

# ---- Manual pages, gzipped (gzip -9n: no name, no time stamp) ------------------------
# velmorante(6) names sdl12-compat's folder, which has the multiarch triplet in it.
if(CMAKE_LIBRARY_ARCHITECTURE)
  string(REPLACE "-" "\\-" VELMORANTE_MAN_MULTIARCH "${CMAKE_LIBRARY_ARCHITECTURE}")
else()
  set(VELMORANTE_MAN_MULTIARCH "\\fIarchitecture\\fP")
endif()
set(man_pages velmorante.6)
if(TARGET velmorante-capture)
  list(APPEND man_pages velmorante-capture.1)
endif()
set(man_outputs "")
foreach(page ${man_pages})
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.in ${staging}/man/${page} @ONLY)
  add_custom_command(OUTPUT ${staging}/man/${page}.gz
                     COMMAND gzip -9nkf ${staging}/man/${page}
                     DEPENDS ${staging}/man/${page} VERBATIM)
  list(APPEND man_outputs ${staging}/man/${page}.gz)
  install(FILES ${staging}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# ---- Licences and changes -----------------------------------------------------------------
# Component docs: what a plain install and the tarball carry.
install(FILES LICENSE CHANGELOG.md data/fonts16.LICENSE.txt
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT docs)

# Component debian, installed only into the Debian package: the same licences
# as one machine-readable copyright file, and the changelogs Debian asks for.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE data/fonts16.LICENSE.txt)
file(STRINGS LICENSE notice REGEX "^Copyright ")
string(REGEX REPLACE "^Copyright \\(c\\) " "" COPYRIGHT_NOTICE "${notice}")
file(READ LICENSE expat)
string(FIND "${expat}" "Permission is hereby granted" at)
string(SUBSTRING "${expat}" ${at} -1 expat)
string(FIND "${expat}" "\nThis licence covers" at)  # what follows the licence says what it covers
string(SUBSTRING "${expat}" 0 ${at} expat)
string(REGEX REPLACE "\n+$" "" expat "${expat}")
string(REPLACE "\n\n" "\n.\n" expat "${expat}")
string(REPLACE "\n" "\n " EXPAT_TEXT "${expat}")
file(READ data/fonts16.LICENSE.txt font)
string(FIND "${font}" "License: bitstream-vera\n" at)
string(SUBSTRING "${font}" ${at} -1 font)
string(REGEX REPLACE "\n+$" "" FONT_LICENSE_TEXT "${font}")
configure_file(${install_dir}/copyright.in ${staging}/debian/copyright @ONLY)
configure_file(${install_dir}/changelog.Debian.in ${staging}/debian/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${staging}/debian/changelog.Debian.gz
                   COMMAND gzip -9nkf ${staging}/debian/changelog.Debian
                   DEPENDS ${staging}/debian/changelog.Debian VERBATIM)
add_custom_command(OUTPUT ${staging}/debian/changelog.gz
                   COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/CHANGELOG.md > ${staging}/debian/changelog.gz
                   DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
add_custom_target(velmorante_install_files ALL
                  DEPENDS ${man_outputs} ${staging}/debian/changelog.Debian.gz ${staging}/debian/changelog.gz)
install(FILES ${staging}/debian/copyright ${staging}/debian/changelog.Debian.gz ${staging}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${install_dir}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME velmorante COMPONENT debian EXCLUDE_FROM_ALL)

# ---- Packages: a Debian package and a tarball -------------------------------------------
set(CPACK_PACKAGE_NAME velmorante)
set(CPACK_PACKAGE_VENDOR "The Velmorante developers")
set(CPACK_PACKAGE_CONTACT "${VELMORANTE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-running audiovisual demo on SDL 1.2")
# Lines of at most 80 characters; an empty line separates paragraphs.
set(CPACK_PACKAGE_DESCRIPTION [[
Velmorante decodes a 320x200 FLI animation of a robot walking a railway
track through a synthwave sunset and a neon night, then paints a scrolling
grid of its frames over a 1280x720 window, each tile at its own phase, to a
procedural noise soundtrack, until Escape is pressed or the window is closed.

Warning: the picture flashes, so the demo is not for people with
photosensitive epilepsy; the soundtrack is loud noise, so lower the volume
before starting it.

velmorante-capture renders the demo's frames to PNG pictures and, with
FFmpeg, to video with its soundtrack, without a screen or a sound card.]])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME "velmorante-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackOptions.cmake)
set(CPACK_VELMORANTE_BUILD_DIR ${PROJECT_BINARY_DIR})  # CPackOptions.cmake picks the components

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELMORANTE_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)  # games would ask for /usr/games
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)     # Depends: from the binaries, by dpkg-shlibdeps
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ffmpeg)  # only velmorante-capture's videos need it
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
