# Installs the library, its header, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS ColorSpace EXPORT ColorSpaceTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
)
install(FILES ${PROJECT_SOURCE_DIR}/ColorSpace/ColorSpace.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ColorSpace)

set(COLORSPACE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ColorSpace)
install(EXPORT ColorSpaceTargets NAMESPACE ColorSpace:: DESTINATION ${COLORSPACE_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ColorSpaceConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ColorSpaceConfig.cmake INSTALL_DESTINATION ${COLORSPACE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ColorSpaceConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ColorSpaceConfig.cmake ${PROJECT_BINARY_DIR}/ColorSpaceConfigVersion.cmake
  DESTINATION ${COLORSPACE_CMAKE_DIR})

# The prefix is filled in at install time, so that --prefix is honoured.
configure_file(${PROJECT_SOURCE_DIR}/cmake/colorspace.pc.in ${PROJECT_BINARY_DIR}/colorspace.pc.in @ONLY)
install(CODE "
  set(CMAKE_INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  file(READ \"${PROJECT_BINARY_DIR}/colorspace.pc.in\" pc)
  string(REPLACE \"${CMAKE_INSTALL_PREFIX}\" \"\${CMAKE_INSTALL_PREFIX}\" pc \"\${pc}\")
  file(WRITE \"${PROJECT_BINARY_DIR}/colorspace.pc\" \"\${pc}\")
")
install(FILES ${PROJECT_BINARY_DIR}/colorspace.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
