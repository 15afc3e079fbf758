# Debian package of everything that is installed (see KestrumInstall.cmake):
#   cmake --build build && (cd build && cpack -G DEB)   ->  build/kestrum_<version>_<arch>.deb
# scripts/package.sh builds it and checks that it installs and runs.

set(KESTRUM_DEB_MAINTAINER "Kestrum developers <developers@kestrum.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME kestrum)
set(CPACK_PACKAGE_VENDOR Kestrum)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "archiver for pakfiles")
# The long description, wrapped for the package's control file.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Kestrum builds pakfiles from list files, lists them and unpacks them.\n"
  "A pakfile is one file that holds many data files behind a checksummed,\n"
  "hash-sorted directory and a compact, scrambled name pool.\n"
  "\n"
  "The package also holds the reader runtime as static libraries with its\n"
  "headers, a CMake package (Kestrum::reader) and a pkg-config file\n"
  "(kestrum), for programs that read pakfiles themselves.")
set(CPACK_PACKAGE_CONTACT "${KESTRUM_DEB_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRUM_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Depends: computed by dpkg-shlibdeps from what the kestrum binary links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
