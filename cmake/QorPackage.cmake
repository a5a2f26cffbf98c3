# The Debian package: `cpack` (scripts/package) after a release build. The files are those of
# `cmake --install` under /usr; the library dependencies come from dpkg-shlibdeps.
set(QOR_PACKAGE_MAINTAINER "Qor developers <qor@users.noreply.invalid>")

# Debian looks for these two in every package's documentation folder; a version without a
# Debian revision makes a native package, whose changelog is changelog.gz.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qor)
find_program(QOR_GZIP gzip)
if(QOR_GZIP)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian
                 ${PROJECT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
  set(_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  add_custom_command(OUTPUT ${_changelog}
                     COMMAND ${QOR_GZIP} -9nc ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
                             > ${_changelog}
                     DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.Debian VERBATIM)
  add_custom_target(qor_changelog ALL DEPENDS ${_changelog})
  install(FILES ${_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qor)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qor)
set(CPACK_PACKAGE_VENDOR "Qor developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QOR_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recorder of Windows Media streams")
# CPack puts the summary first and indents these lines under it.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "Qor records Windows Media streams (MMS over TCP, MMS with UDP data and\n"
       "resend, and the HTTP streaming dialect of Windows Media servers) into\n"
       "local ASF files that play and seek like published ones. The package holds the\n"
       "desktop program qor, the command-line program qor-cli and the reference\n"
       "stream server qor-server, with their manual pages and shell completion.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 0)
include(CPack)
