# Read by CPack once per generator (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "DEB")
  # /usr, two packages by component group, Debian's own files included.
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
  set(CPACK_COMPONENTS_ALL runtime deb_runtime dev docs deb_dev)
else()
  # One archive whose top folder is quillnet-<version>-<system>-<arch>,
  # holding the prefix itself; Debian's files stay out.
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
endif()
