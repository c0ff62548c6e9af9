# Read by cpack once per generator.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "PonderixKorvanis-${CPACK_PACKAGE_VERSION}-setup")
else()
  set(CPACK_PACKAGE_FILE_NAME "PonderixKorvanis-${CPACK_PACKAGE_VERSION}-windows")
endif()
