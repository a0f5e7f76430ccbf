# What `cmake --install` puts where, by component:
#   runtime  the library, the program with the two stand-in host modules and
#            its configuration, README and licence
#   dev      the header, quillnet.pc and the CMake package (Linux)
#   docs     the HTML reference, once the `docs` target has made it (Linux)
# plus Debian's own files (cmake/debian/), which only the .deb packages take.
#
# Linux, under the prefix:
#   lib/libquillnet.so.0.9.0, .so.0 (SONAME), .so (the name hosts load)
#   lib/quillnet/   the program's folder, laid out as a host lays out its
#                   own: quillnet, libquillnet.so (a link to the library
#                   above), libMJBase.so, libhubcore.so, config/
#   bin/quillnet    a link into that folder; the program finds the library
#                   and the modules beside its real path
#   include/quillnet.h, lib/pkgconfig/quillnet.pc, lib/cmake/quillnet/
#   share/doc/quillnet/  README.md, LICENSE, html/
#
# Windows (the bundles of the cross-builds): one flat folder, as it is
# dropped beside a host's executable: win32_quillnet.dll, libcurl.dll,
# MJBase.dll, hubcore.dll, quillnet.exe, config/, include/quillnet.h,
# README.txt and LICENSE.txt.

set(QN_CONFIG_TEMPLATE ${PROJECT_SOURCE_DIR}/cli/config)

if(WIN32)
  install(TARGETS quillnet MJBase hubcore quillnet_cli
    RUNTIME DESTINATION . COMPONENT runtime
    LIBRARY DESTINATION . COMPONENT runtime
    ARCHIVE DESTINATION lib COMPONENT import EXCLUDE_FROM_ALL)
  # The engine the library loads by name: the cross-built libcurl.dll of
  # the libraries' folder (scripts/test-windows.sh).
  if(EXISTS ${QUILLNET_WIN_PREFIX}/bin/libcurl.dll)
    install(FILES ${QUILLNET_WIN_PREFIX}/bin/libcurl.dll DESTINATION . COMPONENT runtime)
  else()
    message(WARNING "quillnet: no libcurl.dll in '${QUILLNET_WIN_PREFIX}/bin': the bundle would lack it")
  endif()
  install(DIRECTORY ${QN_CONFIG_TEMPLATE}/ DESTINATION config COMPONENT runtime)
  install(FILES include/quillnet.h DESTINATION include COMPONENT runtime)
  configure_file(cmake/README-windows.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION . COMPONENT runtime)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT runtime)
  return()
endif()

set(QN_APP_DIR ${CMAKE_INSTALL_LIBDIR}/quillnet)

install(TARGETS quillnet EXPORT quillnetTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT runtime)
install(TARGETS quillnet_cli MJBase hubcore
  RUNTIME DESTINATION ${QN_APP_DIR} COMPONENT runtime
  LIBRARY DESTINATION ${QN_APP_DIR} COMPONENT runtime)
install(DIRECTORY ${QN_CONFIG_TEMPLATE}/ DESTINATION ${QN_APP_DIR}/config COMPONENT runtime)

# The two links, made here as relative links and installed as they are.
set(QN_LINKS_DIR ${CMAKE_CURRENT_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${QN_LINKS_DIR}/app ${QN_LINKS_DIR}/bin)
file(RELATIVE_PATH QN_APP_TO_LIB /${QN_APP_DIR} /${CMAKE_INSTALL_LIBDIR})
string(REGEX REPLACE "/$" "" QN_APP_TO_LIB "${QN_APP_TO_LIB}")
file(CREATE_LINK ${QN_APP_TO_LIB}/libquillnet.so.${PROJECT_VERSION_MAJOR}
  ${QN_LINKS_DIR}/app/libquillnet.so SYMBOLIC)
file(RELATIVE_PATH QN_BIN_TO_APP /${CMAKE_INSTALL_BINDIR} /${QN_APP_DIR})
file(CREATE_LINK ${QN_BIN_TO_APP}/quillnet ${QN_LINKS_DIR}/bin/quillnet SYMBOLIC)
install(FILES ${QN_LINKS_DIR}/app/libquillnet.so DESTINATION ${QN_APP_DIR} COMPONENT runtime)
install(FILES ${QN_LINKS_DIR}/bin/quillnet DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)

# ---- for host developers ----------------------------------------------------

install(FILES include/quillnet.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# Both files find the prefix from where they lie, so that an unpacked
# bundle works wherever it is unpacked.
set(QN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quillnet)
install(EXPORT quillnetTargets NAMESPACE quillnet:: DESTINATION ${QN_CMAKE_DIR} COMPONENT dev)
include(CMakePackageConfigHelpers)
configure_package_config_file(cmake/quillnetConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quillnetConfig.cmake INSTALL_DESTINATION ${QN_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/quillnetConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillnetConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/quillnetConfigVersion.cmake
  DESTINATION ${QN_CMAKE_DIR} COMPONENT dev)

set(QN_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH QN_PC_TO_PREFIX /${QN_PC_DIR} /)
string(REGEX REPLACE "/$" "" QN_PC_TO_PREFIX "${QN_PC_TO_PREFIX}")
configure_file(cmake/quillnet.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quillnet.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillnet.pc DESTINATION ${QN_PC_DIR} COMPONENT dev)

# ---- Debian's own files (only the .deb packages install these) --------------

# copyright in Debian's machine-readable form, its licence text taken from
# LICENSE; changelog.gz compressed without a time stamp, so that packages
# built from the same tree are the same.
file(READ LICENSE QN_LICENSE_TEXT)
string(REGEX REPLACE "^.*(Permission is hereby granted)" "\\1" QN_EXPAT_TEXT "${QN_LICENSE_TEXT}")
string(STRIP "${QN_EXPAT_TEXT}" QN_EXPAT_TEXT)
string(REGEX REPLACE "\n\n" "\n.\n" QN_EXPAT_TEXT "${QN_EXPAT_TEXT}")
string(REPLACE "\n" "\n " QN_EXPAT_TEXT " ${QN_EXPAT_TEXT}")
set(QN_DEBIAN_DIR ${CMAKE_CURRENT_BINARY_DIR}/debian)
configure_file(cmake/debian/copyright.in ${QN_DEBIAN_DIR}/copyright @ONLY)
configure_file(cmake/debian/changelog ${QN_DEBIAN_DIR}/changelog @ONLY)
configure_file(cmake/debian/shlibs.in ${QN_DEBIAN_DIR}/shlibs @ONLY)
execute_process(COMMAND gzip -9nf ${QN_DEBIAN_DIR}/changelog RESULT_VARIABLE QN_GZIP_FAILED)
if(QN_GZIP_FAILED)
  message(FATAL_ERROR "quillnet: gzip of the Debian changelog failed")
endif()
foreach(package quillnet libquillnet-dev)
  if(package STREQUAL quillnet)
    set(component deb_runtime)
  else()
    set(component deb_dev)
  endif()
  install(FILES ${QN_DEBIAN_DIR}/copyright ${QN_DEBIAN_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
  install(FILES cmake/debian/${package}.lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${package}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
