# What `cmake --install` puts where: programs, client header, manual pages, docs, the copyright
# file, the service unit and the sysctl setting.
# SPDX-License-Identifier: MIT
include(GNUInstallDirs)

install(TARGETS udptrail udptrail-send RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/udptrail_client.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# Manual pages go in compressed, as man-db and Debian expect, when gzip is at hand.
find_program(UDPTRAIL_GZIP gzip)
set(udptrail_man_pages "")
foreach(page udptrail.1 udptrail-send.1)
  set(source ${PROJECT_SOURCE_DIR}/man/${page})
  if(UDPTRAIL_GZIP)
    set(packed ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND sh -c "\"$0\" -9 -n -c \"$1\" > \"$2\"" ${UDPTRAIL_GZIP} ${source} ${packed}
      DEPENDS ${source} VERBATIM)
    list(APPEND udptrail_man_pages ${packed})
  else()
    list(APPEND udptrail_man_pages ${source})
  endif()
endforeach()
add_custom_target(udptrail_man_pages ALL DEPENDS ${udptrail_man_pages})
install(FILES ${udptrail_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

foreach(doc README.md docs/ecosystem.md)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${doc})
    install(FILES ${PROJECT_SOURCE_DIR}/${doc} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endforeach()
# The licence, in Debian's machine-readable copyright format, where Debian looks for it.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Raises net.core.rmem_max to the 4 MiB receive buffer the server asks for (read at boot by
# systemd-sysctl, which also reads /usr/local/lib/sysctl.d/; applied by the package's postinst).
set(UDPTRAIL_SYSCTL_DIR "lib/sysctl.d" CACHE STRING
    "Folder of the sysctl settings, relative to the install prefix")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-udptrail.conf
        DESTINATION ${UDPTRAIL_SYSCTL_DIR})

# The service unit names the server by its installed path, known only at install time (a
# package is installed under its own prefix).
set(UDPTRAIL_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Folder of the systemd unit, relative to the install prefix")
install(CODE "
  set(bindir \"${CMAKE_INSTALL_BINDIR}\")
  if(NOT IS_ABSOLUTE \"\${bindir}\")
    set(bindir \"\${CMAKE_INSTALL_PREFIX}/\${bindir}\")
  endif()
  file(READ \"${PROJECT_SOURCE_DIR}/packaging/udptrail@.service\" unit)
  string(REPLACE \"/usr/bin/udptrail\" \"\${bindir}/udptrail\" unit \"\${unit}\")
  file(WRITE \"${PROJECT_BINARY_DIR}/packaging/udptrail@.service\" \"\${unit}\")
  file(INSTALL \"${PROJECT_BINARY_DIR}/packaging/udptrail@.service\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${UDPTRAIL_SYSTEMD_UNIT_DIR}\")
")

# The lnav format for log files written with --time=iso, in the folder where lnav looks for
# installed formats (a conffile of the package: packaging/debian/conffiles).
set(UDPTRAIL_LNAV_FORMAT_DIR "/etc/lnav/formats/installed" CACHE PATH
    "Folder where lnav finds installed log formats")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lnav/udptrail_log.json
        DESTINATION ${UDPTRAIL_LNAV_FORMAT_DIR})
