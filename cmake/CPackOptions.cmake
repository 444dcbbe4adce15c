# Read by cpack for each package it makes (CPACK_PROJECT_CONFIG_FILE), to
# choose the install components that go into it. The Debian package carries
# its licences and changes the way Debian asks (copyright, changelog.gz,
# changelog.Debian.gz: component debian); the tarball, like a plain
# `cmake --install`, carries LICENSE, the font's licence and CHANGELOG.md
# (component docs). Both carry everything else (component velmorante).
if(CPACK_GENERATOR STREQUAL "DEB")
  set(components velmorante debian)
else()
  set(components velmorante docs)
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS "")
foreach(component ${components})
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_VELMORANTE_BUILD_DIR}" velmorante ${component} /)
endforeach()
