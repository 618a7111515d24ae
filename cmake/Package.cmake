# The Debian package, built with `cpack -G DEB` in a configured build folder.
# SPDX-License-Identifier: MIT
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME udptrail)
set(CPACK_PACKAGE_VENDOR "udptrail developers")
set(UDPTRAIL_PACKAGE_MAINTAINER "udptrail developers <maintainers@udptrail.invalid>" CACHE STRING
    "Maintainer named in the package")
set(CPACK_PACKAGE_CONTACT "${UDPTRAIL_PACKAGE_MAINTAINER}")
# The licence, by its SPDX identifier; /usr/share/doc/udptrail/copyright holds its text
# (packaging/debian/copyright, in the machine-readable format).
set(UDPTRAIL_LICENSE_SPDX MIT)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RPM_PACKAGE_LICENSE ${UDPTRAIL_LICENSE_SPDX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console server that logs trace lines received over UDP")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "udptrail listens on one UDP port, shows every received line behind a time\n"
    "prefix in a colour chosen by the line's first byte, and appends it to rotating\n"
    "log files that it deletes after a retention period.\n"
    "It comes with udptrail-send, which sends lines from shells, a one-header client\n"
    "for C and C++ programs, a systemd unit template, udptrail@PORT.service,\n"
    "installed but not enabled, and a sysctl setting that lets it have the 4 MiB\n"
    "socket receive buffer it asks for.\n"
    "License: MIT (SPDX-License-Identifier: ${UDPTRAIL_LICENSE_SPDX}).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# The real dependencies come from the binaries themselves when dpkg-shlibdeps can read them.
find_program(UDPTRAIL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(UDPTRAIL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(STATUS "dpkg-shlibdeps not found: the package's dependencies are listed by hand")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, zlib1g")
endif()

set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
