# Install rules: headers under include/kvbasics, the library and its
# pkg-config file under lib, the CMake package TessaloquinBasics.

include(CMakePackageConfigHelpers)

set(TQ_INSTALL_LIBDIR lib)
set(TQ_INSTALL_CMAKEDIR ${TQ_INSTALL_LIBDIR}/cmake/TessaloquinBasics)

install(TARGETS tqbasics EXPORT TessaloquinBasicsTargets
        LIBRARY DESTINATION ${TQ_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TQ_COUNTER_TEXT_FILES} DESTINATION ${TQ_INSTALL_LIBDIR})
install(FILES ${TQ_BASICS_PUBLIC_HEADERS}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kvbasics)
install(EXPORT TessaloquinBasicsTargets
        NAMESPACE Tessaloquin::
        FILE TessaloquinBasicsTargets.cmake
        DESTINATION ${TQ_INSTALL_CMAKEDIR})

configure_package_config_file(
    ${CMAKE_CURRENT_LIST_DIR}/TessaloquinBasicsConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/TessaloquinBasicsConfig.cmake
    INSTALL_DESTINATION ${TQ_INSTALL_CMAKEDIR})
write_basic_package_version_file(
    ${CMAKE_CURRENT_BINARY_DIR}/TessaloquinBasicsConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMinorVersion)
install(FILES
        ${CMAKE_CURRENT_BINARY_DIR}/TessaloquinBasicsConfig.cmake
        ${CMAKE_CURRENT_BINARY_DIR}/TessaloquinBasicsConfigVersion.cmake
        DESTINATION ${TQ_INSTALL_CMAKEDIR})

set(TQ_MODULE_FILE "TQ${TQ_VERSION_TAG}Tbs90x64.so")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tqbasics.pc.in
               ${CMAKE_CURRENT_BINARY_DIR}/tqbasics.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tqbasics.pc
        DESTINATION ${TQ_INSTALL_LIBDIR}/pkgconfig)
