# Per-generator CPack settings: the Debian packages take their synopses from their components'
# descriptions, so the project's summary (the .tar.gz's) is set back to CPack's default there.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CPACK_DEFAULT_PACKAGE_DESCRIPTION_SUMMARY}")
endif()
