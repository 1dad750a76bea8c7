# `cpack -G DEB` (run in the build folder) packs what `cmake --install` installs (the executable,
# the library, its public headers and CMake package, the message catalogues) into one Debian
# package under /usr. The package depends on the shared libraries its programs link, as
# dpkg-shlibdeps finds them; the executable reaches the packaged library by its relative run path,
# and the library finds the packaged catalogues relative to itself.
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Morvane maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "voucher template settings component of a cost-accounting module")
# The long description as the control file shows it, one line of at most 80 columns a line.
set(CPACK_PACKAGE_DESCRIPTION
  "The component that keeps, for each expense department, expense and voucher
category, the ledger account, item class and item used when vouchers are
generated. Holds the shared library libmorvane with its headers and CMake
package, and the morvane command line, which creates databases, calls the
component and serves it over HTTP.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The packaged programs and library without their debugging information.
set(CPACK_STRIP_FILES ON)
if(NOT DEFINED CPACK_DEBIAN_PACKAGE_MAINTAINER)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Morvane maintainers <maintainers@users.noreply.c-seed-995ab68c.example>")
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
