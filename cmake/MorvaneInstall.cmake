# `cmake --install` puts the component library, its public headers, the executable, the message
# catalogues and a CMake package file (find_package(Morvane) gives Morvane::morvane).
include(CMakePackageConfigHelpers)
install(TARGETS morvane_lib EXPORT MorvaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/morvane)
install(TARGETS morvane_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY src/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/morvane
  FILES_MATCHING PATTERN "*.h" PATTERN "host" EXCLUDE PATTERN "cli" EXCLUDE)
install(DIRECTORY resources/ DESTINATION ${CMAKE_INSTALL_DATADIR}/morvane/resources)
install(EXPORT MorvaneTargets NAMESPACE Morvane:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Morvane)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/MorvaneConfig.cmake.in
  "@PACKAGE_INIT@\ninclude(CMakeFindDependencyMacro)\nfind_dependency(Threads)\ninclude(\"\${CMAKE_CURRENT_LIST_DIR}/MorvaneTargets.cmake\")\n")
configure_package_config_file(${CMAKE_CURRENT_BINARY_DIR}/MorvaneConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/MorvaneConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Morvane)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/MorvaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/MorvaneConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/MorvaneConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Morvane)
