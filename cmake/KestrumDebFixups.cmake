# Run by CPack once the Debian packages are made (CPACK_POST_BUILD_SCRIPTS),
# with CPACK_PACKAGE_FILES naming them. CPack gives a package that holds a
# shared library postinst and postrm scripts that call ldconfig; the library
# package activates libc's ldconfig trigger instead (its control member
# "triggers"), so the scripts are taken out: the package is unpacked with
# dpkg-deb and built again without them.

find_program(KESTRUM_DPKG_DEB dpkg-deb)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  if(NOT name MATCHES "^libkestrum[0-9]+_.*\\.deb$")
    continue()
  endif()
  if(NOT KESTRUM_DPKG_DEB)
    message(FATAL_ERROR "dpkg-deb is needed to finish ${name}")
  endif()
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND ${KESTRUM_DPKG_DEB} --raw-extract "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  if(NOT EXISTS "${tree}/DEBIAN/triggers")
    message(FATAL_ERROR "${name} has no triggers file: it would leave the loader's cache stale")
  endif()
  file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
  execute_process(COMMAND ${KESTRUM_DPKG_DEB} --root-owner-group --build "${tree}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
