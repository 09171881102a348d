# Run by cpack for each generator: the name of the file it makes.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "lintrel-${CPACK_PACKAGE_VERSION}-setup")
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_PACKAGE_FILE_NAME "lintrel-${CPACK_PACKAGE_VERSION}-win64")
endif()
