# `cmake --install` puts the component library, its public headers, the executable, the message
# catalogues and a CMake package file (find_package(Morvane) gives Morvane::morvane); `cpack -G DEB`
# packs the same files into a Debian package.
include(CMakePackageConfigHelpers)

# The headers a program needs to create the component's objects and call them in-process: values,
# dispatch, late binding, the class registry and errors of the automation layer, the runtime's
# CreateObject and transactions, and the module entry points. The list is closed under the
# headers' own includes (tests/install builds a program that includes each of them); every other
# header stays inside the build.
set(MORVANE_PUBLIC_HEADERS
  platform/automation/convert.h
  platform/automation/dispatch.h
  platform/automation/error.h
  platform/automation/error_numbers.h
  platform/automation/late_binding.h
  platform/automation/registry.h
  platform/automation/text.h
  platform/automation/type_info.h
  platform/automation/variant.h
  platform/mts/runtime.h
  service/module.h)
set(MORVANE_INSTALL_HEADER_DIR ${CMAKE_INSTALL_INCLUDEDIR}/morvane)
foreach(header IN LISTS MORVANE_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/src/${header} DESTINATION ${MORVANE_INSTALL_HEADER_DIR}/${folder})
endforeach()

# The executable finds the library through a run path relative to its own folder, so an installed
# tree works wherever it is put (another prefix, a package unpacked elsewhere).
file(RELATIVE_PATH morvane_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(morvane_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${morvane_bin_to_lib}")
# Exported as Morvane::morvane; inside the build the target is morvane_lib (alias Morvane::morvane).
set_target_properties(morvane_lib PROPERTIES EXPORT_NAME morvane)

install(TARGETS morvane_lib EXPORT MorvaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS morvane_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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
