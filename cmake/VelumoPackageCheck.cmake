# Read by cpack for every generator: a Debian package is built only from a
# build configured for /usr, the prefix the programs were compiled for.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "The Debian package needs a build configured with "
        "-DCMAKE_INSTALL_PREFIX=/usr (this one is for ${CPACK_PACKAGING_INSTALL_PREFIX})")
endif()
