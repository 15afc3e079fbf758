# Debian packages, one per install component (see KestrumInstall.cmake):
#   kestrum_<version>_<arch>.deb         the tool, its manual page and docs
#   libkestrum-dev_<version>_<arch>.deb  the reader runtime for embedding
# made by: cmake --build build && (cd build && cpack -G DEB)
# scripts/package.sh builds both and checks that they install and work.

set(KESTRUM_DEB_MAINTAINER "Kestrum developers <developers@kestrum.invalid>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_PACKAGE_NAME kestrum)
set(CPACK_PACKAGE_VENDOR Kestrum)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each component's description starts with its summary line; no common
# CPACK_PACKAGE_DESCRIPTION_SUMMARY, which CPack would put in front of both.
set(CPACK_PACKAGE_CONTACT "${KESTRUM_DEB_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool dev)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRUM_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The tool. Depends: computed by dpkg-shlibdeps from what kestrum links.
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME kestrum)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
string(CONCAT CPACK_DEBIAN_TOOL_DESCRIPTION
  "archiver for pakfiles\n"
  "Kestrum builds pakfiles from list files, lists them and unpacks them.\n"
  "A pakfile is one file that holds many data files behind a checksummed,\n"
  "hash-sorted directory and a compact, scrambled name pool.")

# The reader runtime: static libraries, so its Depends are the development
# packages of what they link by path (liburing.so -> liburing-dev), as found
# by dpkg on the building machine.
set(KESTRUM_DEV_DEPENDS "")
find_program(KESTRUM_DPKG_QUERY dpkg-query)
if(KESTRUM_DPKG_QUERY)
  foreach(file IN LISTS KESTRUM_EXTERNAL_LIBRARY_FILES)
    execute_process(COMMAND ${KESTRUM_DPKG_QUERY} -S "${file}" OUTPUT_VARIABLE owner RESULT_VARIABLE status
                    ERROR_QUIET)
    if(status EQUAL 0)
      string(REGEX REPLACE "[:,].*" "" owner "${owner}")  # "liburing-dev:amd64: /usr/lib/..." -> liburing-dev
      list(APPEND KESTRUM_DEV_DEPENDS "${owner}")
    else()
      message(WARNING "libkestrum-dev: no Debian package owns ${file}; it is not among the package's Depends")
    endif()
  endforeach()
endif()
list(REMOVE_DUPLICATES KESTRUM_DEV_DEPENDS)
list(JOIN KESTRUM_DEV_DEPENDS ", " KESTRUM_DEV_DEPENDS)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkestrum-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${KESTRUM_DEV_DEPENDS}")
string(CONCAT CPACK_DEBIAN_DEV_DESCRIPTION
  "pakfile reader runtime of Kestrum (development files)\n"
  "The runtime with which programs open pakfiles and read the files inside\n"
  "them: static libraries, the C++20 header <kestrum/pak_reader.h>, a CMake\n"
  "package (find_package(Kestrum), target Kestrum::reader) and a pkg-config\n"
  "file (kestrum).")

include(CPack)
