# Debian packages, one per install component (see KestrumInstall.cmake):
#   kestrum_<version>_<arch>.deb          the tool, its manual page and docs
#   libkestrum1_<version>_<arch>.deb      the shared reader runtime
#   libkestrum-dev_<version>_<arch>.deb   headers, static library, CMake and
#                                         pkg-config files for embedding
#   python3-kestrum_<version>_all.deb     the Python module
#   kestrum-mount_<version>_<arch>.deb    kestrum-mount and its manual page,
#                                         where it is built (Linux, libfuse3)
# made by: cmake --build build && (cd build && cpack -G DEB)
# scripts/package.sh builds them all and checks that they install and work.

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
set(CPACK_COMPONENTS_ALL tool lib dev python)
if(TARGET kestrum-mount)
  list(APPEND CPACK_COMPONENTS_ALL mount)
endif()
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

# The shared runtime. Depends: computed by dpkg-shlibdeps (libc, libstdc++,
# liburing2); a shlibs file and the ldconfig trigger come with it.
set(KESTRUM_LIB_PACKAGE libkestrum${PROJECT_VERSION_MAJOR})
set(KESTRUM_SAME_VERSION "${KESTRUM_LIB_PACKAGE} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${KESTRUM_LIB_PACKAGE})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
string(CONCAT CPACK_DEBIAN_LIB_DESCRIPTION
  "pakfile reader runtime of Kestrum (shared library)\n"
  "The runtime with which programs open pakfiles and read the files inside\n"
  "them, through a C interface and a C++ one: libkestrum.so.1.")

# For embedding: the static library's Depends are the development packages
# of what it links (liburing.so -> liburing-dev), as found by dpkg on the
# building machine, and the shared library for the libkestrum.so link.
set(KESTRUM_DEV_DEPENDS "${KESTRUM_SAME_VERSION}")
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
  "them: the C header <kestrum/kestrum.h>, the C++20 header\n"
  "<kestrum/pak_reader.h>, the static library, a CMake package\n"
  "(find_package(Kestrum), targets Kestrum::reader and Kestrum::reader_shared)\n"
  "and a pkg-config file (kestrum).")

# The Python module: pure Python over the shared library.
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-kestrum)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, ${KESTRUM_SAME_VERSION}")
string(CONCAT CPACK_DEBIAN_PYTHON_DESCRIPTION
  "pakfile reader runtime of Kestrum (Python module)\n"
  "import kestrum: open pakfiles, list their entries and read the files\n"
  "inside them from Python, through the shared runtime and ctypes.")

# kestrum-mount, a package of its own so that the tool does not pull in FUSE.
# Depends: fuse3 (fusermount3, to mount as a user and to unmount), and what
# dpkg-shlibdeps finds it links (libfuse3-3, liburing2, the C++ library).
set(CPACK_DEBIAN_MOUNT_PACKAGE_NAME kestrum-mount)
set(CPACK_DEBIAN_MOUNT_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_MOUNT_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_MOUNT_PACKAGE_DEPENDS fuse3)
string(CONCAT CPACK_DEBIAN_MOUNT_DESCRIPTION
  "mount Kestrum pakfiles as a read-only file system\n"
  "kestrum-mount shows the files inside pakfiles as a directory tree through\n"
  "FUSE, a patch pakfile shadowing the same paths in the base pakfile as the\n"
  "game's runtime does, so that everyday tools can read them in place.")

include(CPack)
