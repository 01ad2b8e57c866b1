# Read by cpack for each generator: what differs between the packages of one build.
if(CPACK_GENERATOR STREQUAL "NSIS")
  # The installer holds the till's folder only (publish goes into the tools zip).
  set(CPACK_COMPONENTS_ALL till)
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
