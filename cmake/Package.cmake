# A Debian package of what the install rules put under a prefix: the library
# and its counter texts, headers, pkg-config and CMake files, the tool with its
# manual page and completion. `cpack -G DEB` in a build folder makes it.

set(CPACK_PACKAGE_NAME "tessaloquin-basics")
set(CPACK_PACKAGE_VENDOR "Tessaloquin")
set(CPACK_PACKAGE_CONTACT "Tessaloquin basics maintainers <basics@tessaloquin.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Basic-services library of the Tessaloquin object-database runtime")
set(CPACK_PACKAGE_DESCRIPTION
    "Containers, memory files, CRC-32, the run-length compressor, the error catalogue, \
the system log, the module loader, timers, registry configuration and the server's \
statistics counters, with the tqbs tool.")
set(CPACK_PACKAGE_VERSION
    "${TQ_VERSION_1}.${TQ_VERSION_2}.${TQ_VERSION_3}.${TQ_VERSION_4}.${TQ_VERSION_5}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "libs")
# The dependencies are what the module and the tool link: computed by
# dpkg-shlibdeps from the built files.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The module has no soname (the loader finds it by file name): no shlibs file.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_STRIP_FILES OFF)
include(CPack)
