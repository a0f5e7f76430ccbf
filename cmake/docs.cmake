# `docs`: the reference for host developers, rendered by Doxygen from the
# header and the host-module interface into build/<tree>/docs/html; the
# Linux bundle and libquillnet-dev carry it. An undocumented export or a
# broken reference fails the target.
if(WIN32)
  return()
endif()
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  set(QN_DOCS_DIR ${CMAKE_CURRENT_BINARY_DIR}/docs)
  configure_file(docs/Doxyfile.in ${CMAKE_CURRENT_BINARY_DIR}/Doxyfile @ONLY)
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${QN_DOCS_DIR}/html
    COMMAND Doxygen::doxygen ${CMAKE_CURRENT_BINARY_DIR}/Doxyfile
    DEPENDS docs/Doxyfile.in docs/mainpage.md include/quillnet.h hostmods/sdk/mj/mj_interfaces.h
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Rendering the reference into ${QN_DOCS_DIR}/html"
    VERBATIM)
endif()
install(DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/docs/html/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/html COMPONENT docs OPTIONAL)
