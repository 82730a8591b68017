# Read by cpack for each package it makes: the installer is one program,
# tessaline-<version>-setup.exe, that installs the folder's contents.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "tessaline-${CPACK_PACKAGE_VERSION}-setup")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
