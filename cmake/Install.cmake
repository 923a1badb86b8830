# Installs the plug-in with its soname links, the host headers, a CMake
# package (find_package(LibQuorvex) -> LibQuorvex::LibQuorvex) and a
# pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS LibQuorvex EXPORT LibQuorvexTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/LibQuorvex)
install(FILES driver/CDriveBaseClass.h value/CLabelVariable.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/LibQuorvex)

set(QV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/LibQuorvex)
install(EXPORT LibQuorvexTargets NAMESPACE LibQuorvex:: DESTINATION ${QV_CMAKE_DIR})
configure_package_config_file(cmake/LibQuorvexConfig.cmake.in
    ${CMAKE_BINARY_DIR}/generated/LibQuorvexConfig.cmake INSTALL_DESTINATION ${QV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/generated/LibQuorvexConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/generated/LibQuorvexConfig.cmake
              ${CMAKE_BINARY_DIR}/generated/LibQuorvexConfigVersion.cmake
        DESTINATION ${QV_CMAKE_DIR})

configure_file(cmake/libquorvex.pc.in ${CMAKE_BINARY_DIR}/generated/libquorvex.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/generated/libquorvex.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
