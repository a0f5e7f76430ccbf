# The bundles, made by CPack from the install rules (cmake/install.cmake);
# scripts/package.sh runs it for every bundle:
#   Linux    quillnet-<version>-linux-x86_64.tar.gz             (TGZ)
#            quillnet_<version>_amd64.deb, libquillnet-dev_<version>_amd64.deb (DEB)
#   Windows  quillnet-<version>-windows-x86_64.zip, -windows-i686.zip (ZIP)
# Settings that differ between the generators are in
# cmake/cpack_generator.cmake, which CPack reads once per generator.

set(CPACK_PACKAGE_NAME quillnet)
set(CPACK_PACKAGE_VENDOR "the quillnet developers")
set(CPACK_PACKAGE_CONTACT "the quillnet developers <quillnet@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
# Bundles carry no debug information; build trees keep it (the binary
# interface description is read from there).
set(CPACK_STRIP_FILES ON)
# CPack installs what scripts/package.sh has built, without building
# everything else (the tests) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(QN_PACKAGE_ARCH i686)
  else()
    set(QN_PACKAGE_ARCH x86_64)
  endif()
  set(QN_PACKAGE_SYSTEM windows)
  set(CPACK_GENERATOR ZIP)
else()
  set(QN_PACKAGE_ARCH ${CMAKE_SYSTEM_PROCESSOR})
  set(QN_PACKAGE_SYSTEM linux)
  set(CPACK_GENERATOR TGZ DEB)
endif()
set(CPACK_PACKAGE_FILE_NAME quillnet-${PROJECT_VERSION}-${QN_PACKAGE_SYSTEM}-${QN_PACKAGE_ARCH})
set(CPACK_SOURCE_GENERATOR "")

# ---- Debian ------------------------------------------------------------------
# Two packages: quillnet (the library with the link hosts load it by, the
# program and the host modules) and libquillnet-dev (header, pkg-config and
# CMake files, the HTML reference). Each component belongs to one of them.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_BIN_PACKAGE_NAME quillnet)
set(CPACK_DEBIAN_BIN_PACKAGE_SECTION libs)
# The shlibs entry and the ldconfig trigger are our own: CPack would make
# maintainer scripts that call ldconfig, and entries for the host modules,
# which have no SONAME and are nobody's to link.
set(CPACK_DEBIAN_BIN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_BIN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/debian/shlibs ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
# libcurl is loaded at run time, so no link records the need for it.
set(CPACK_DEBIAN_BIN_PACKAGE_DEPENDS "libcurl4")
set(CPACK_DEBIAN_BIN_PACKAGE_SUGGESTS "python3-pyftpdlib")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquillnet-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "quillnet (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_generator.cmake)

set(CPACK_DEBIAN_BIN_DESCRIPTION "network client library for desktop hosts
quillnet gives desktop programs a flat C interface of 35 functions for
HTTP(S) submits that hand back the whole response body, multipart posts,
downloads over HTTP(S) and FTP and uploads, on the caller's thread or on
worker threads of their own. libcurl is loaded at run time.
.
This package holds the library, the quillnet command-line host with its
two stand-in host modules (MJBase, hubcore) and its configuration.")
set(CPACK_DEBIAN_DEV_DESCRIPTION "network client library for desktop hosts (development files)
quillnet gives desktop programs a flat C interface of 35 functions for
HTTP(S) submits, multipart posts, downloads and uploads.
.
This package holds the header, the pkg-config file, the CMake package
(find_package(quillnet)) and the HTML reference.")

include(CPack)

cpack_add_component_group(bin)
cpack_add_component_group(dev)
cpack_add_component(runtime GROUP bin)
cpack_add_component(deb_runtime GROUP bin)
cpack_add_component(dev GROUP dev)
cpack_add_component(docs GROUP dev)
cpack_add_component(deb_dev GROUP dev)
