# Install rules and the two Debian packages (cpack -G DEB in the build folder,
# or `make package`):
#   velto          the server, headless: /usr/lib/velto, the unit, PAM,
#                  logrotate, manual pages; no desktop library
#   velto-desktop  the windows (libvelto_desktop.so); Depends: velto (= version)
# The build folder itself is untouched by this: bin/ still holds everything.

# Installing (and so cpack) builds only what it installs, not the tests:
# `make package` builds those targets first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VELTO_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the packages (the part after the version)")
set(VELTO_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(VELTO_LIB_DIR lib/velto)   # below CPACK_PACKAGING_INSTALL_PREFIX (/usr)

# The program and what it loads from beside itself ($ORIGIN).
install(TARGETS velto RUNTIME DESTINATION ${VELTO_LIB_DIR} COMPONENT velto)
install(TARGETS portwell velto_platform LIBRARY DESTINATION ${VELTO_LIB_DIR} COMPONENT velto)
if(TARGET velto_desktop)
  install(TARGETS velto_desktop LIBRARY DESTINATION ${VELTO_LIB_DIR} COMPONENT desktop)
endif()
install(FILES ${VELTO_PACKAGING_DIR}/velto.paths DESTINATION ${VELTO_LIB_DIR} COMPONENT velto)

# /usr/sbin/velto: a relative link, which the program follows through
# /proc/self/exe back to its real folder.
set(VELTO_SBIN_LINK ${CMAKE_BINARY_DIR}/packaging/sbin/velto)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging/sbin)
file(CREATE_LINK ../lib/velto/velto ${VELTO_SBIN_LINK} SYMBOLIC)
install(FILES ${VELTO_SBIN_LINK} DESTINATION sbin COMPONENT velto)

# The first settings, copied to /etc/velto by postinst on first install only.
install(FILES ${VELTO_PACKAGING_DIR}/Velto.ini DESTINATION share/velto COMPONENT velto)

install(FILES ${VELTO_PACKAGING_DIR}/velto.service DESTINATION /lib/systemd/system COMPONENT velto)
install(FILES ${VELTO_PACKAGING_DIR}/velto.pam DESTINATION /etc/pam.d RENAME velto COMPONENT velto)
install(FILES ${VELTO_PACKAGING_DIR}/velto.logrotate DESTINATION /etc/logrotate.d RENAME velto COMPONENT velto)

# Manual pages from their markdown sources, with pandoc.
find_program(VELTO_PANDOC pandoc)
find_program(VELTO_GZIP gzip REQUIRED)
set(VELTO_MAN_PAGES velto.8 velto.usr.5)
set(VELTO_MAN_OUTPUTS)
set(VELTO_DOC_OUTPUTS)
if(VELTO_PANDOC)
  foreach(page IN LISTS VELTO_MAN_PAGES)
    string(REGEX MATCH "[0-9]$" section ${page})
    set(source ${VELTO_PACKAGING_DIR}/man/${page}.md)
    set(filled ${CMAKE_BINARY_DIR}/packaging/${page}.md)
    set(output ${CMAKE_BINARY_DIR}/packaging/${page}.gz)
    # The settings keys come from the README's table, the one list of them.
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -DREADME=${CMAKE_SOURCE_DIR}/README.md -DSOURCE=${source} -DOUTPUT=${filled}
              -P ${VELTO_PACKAGING_DIR}/man/insert_readme_section.cmake
      COMMAND ${VELTO_PANDOC} --standalone --to man ${filled} -o ${CMAKE_BINARY_DIR}/packaging/${page}
      COMMAND ${VELTO_GZIP} -9nf ${CMAKE_BINARY_DIR}/packaging/${page}
      DEPENDS ${source} ${CMAKE_SOURCE_DIR}/README.md ${VELTO_PACKAGING_DIR}/man/insert_readme_section.cmake
      VERBATIM)
    install(FILES ${output} DESTINATION share/man/man${section} COMPONENT velto)
    list(APPEND VELTO_MAN_OUTPUTS ${output})
  endforeach()
  add_custom_target(velto_man ALL DEPENDS ${VELTO_MAN_OUTPUTS})
else()
  message(STATUS "pandoc not found: no manual pages, and the packages cannot be built (apt-get install pandoc)")
endif()

# Copyright and a changelog in each package's doc folder (Debian policy).
set(VELTO_DEB_VERSION ${PROJECT_VERSION}-${VELTO_PACKAGE_RELEASE})
foreach(package velto velto-desktop)
  set(VELTO_PACKAGE_NAME ${package})
  set(changelog ${CMAKE_BINARY_DIR}/packaging/doc/${package}/changelog.Debian)
  configure_file(${VELTO_PACKAGING_DIR}/debian/changelog.in ${changelog} @ONLY)
  add_custom_command(OUTPUT ${changelog}.gz
    COMMAND ${VELTO_GZIP} -9nc ${changelog} > ${changelog}.gz
    DEPENDS ${changelog})
  list(APPEND VELTO_DOC_OUTPUTS ${changelog}.gz)
  if(package STREQUAL "velto")
    set(component velto)
  else()
    set(component desktop)
  endif()
  install(FILES ${VELTO_PACKAGING_DIR}/debian/copyright ${changelog}.gz
          DESTINATION share/doc/${package} COMPONENT ${component})
endforeach()
# Each output belongs to one target only: two targets with the same custom
# command would run it twice at once in a parallel build.
add_custom_target(velto_package_docs ALL DEPENDS ${VELTO_DOC_OUTPUTS})
if(TARGET velto_man)
  add_dependencies(velto_package_docs velto_man)
endif()

# CPack, Debian generator, one package per component.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velto)
set(CPACK_PACKAGE_VENDOR "Velto developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velto developers <velto@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL velto desktop)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELTO_PACKAGE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://velto.example.org/)
# Shared-library dependencies from dpkg-shlibdeps (dpkg-dev); the velto
# package gets no Qt from them as long as the program links none.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The private libraries in /usr/lib/velto are found through $ORIGIN.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_VELTO_PACKAGE_NAME velto)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME velto-desktop)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION x11)
set(CPACK_COMPONENT_DESKTOP_DEPENDS velto)
# First line the summary, then the long text (CPack indents it).
set(CPACK_DEBIAN_VELTO_DESCRIPTION "FTP and FTPS server
Velto is a single-threaded, event-driven FTP server with per-account rights,
FTPS, IPv6, PAM log-ons for system accounts and a hardened systemd unit.
This package is the headless server and its command-line tools.")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "FTP and FTPS server - administration windows
The Qt windows of the Velto FTP server, loaded by the program only when it
runs with a display.")
set(CPACK_DEBIAN_VELTO_PACKAGE_RECOMMENDS logrotate)
set(CPACK_DEBIAN_VELTO_PACKAGE_CONTROL_EXTRA
    ${VELTO_PACKAGING_DIR}/debian/conffiles
    ${VELTO_PACKAGING_DIR}/debian/postinst
    ${VELTO_PACKAGING_DIR}/debian/prerm
    ${VELTO_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_VELTO_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# The package test builds the packages (cpack) and reads them back.
add_subdirectory(${CMAKE_SOURCE_DIR}/tests/package ${CMAKE_BINARY_DIR}/tests/package)
