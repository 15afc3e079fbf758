# Installation of Kestrum, in four components:
#   tool    the kestrum tool with its manual page and documentation
#   lib     the shared reader runtime, libkestrum.so.1 (kestrum.dll on Windows)
#   dev     for programs that embed the runtime: the headers, the static
#           libkestrum.a, the libkestrum.so link (libkestrum.dll.a), a CMake
#           package (find_package(Kestrum) -> Kestrum::reader, static, and
#           Kestrum::reader_shared) and a pkg-config file (kestrum.pc)
#   python  the Python module kestrum, over the shared library with ctypes
#   mount   kestrum-mount with its manual page (Linux, where libfuse3 is found)
# cmake --install installs them all; CPack makes one Debian package of each
# (KestrumPackage.cmake).
#
# Installed layout, relative to the prefix:
#   bin/kestrum
#   share/man/man1/kestrum.1
#   bin/kestrum-mount, share/man/man1/kestrum-mount.1   (not on Windows)
#   share/doc/kestrum/{README.md,format.md}
#   include/kestrum/kestrum.h               the C interface
#   include/kestrum/pak_reader.h            the C++ interface
#   include/kestrum/format/{pak_layout,locale_key,kestrum_export}.h
#                                           reached from both by their own
#                                           "format/..." includes, which
#                                           resolve beside the header
#   lib/libkestrum.so.1.0.0, lib/libkestrum.so.1, lib/libkestrum.so
#   lib/libkestrum.a
#   (Windows: bin/kestrum.dll, lib/libkestrum.dll.a, lib/libkestrum.a)
#   lib/cmake/Kestrum/Kestrum{Config,ConfigVersion,Targets*}.cmake and
#   FindKestrumUring.cmake
#   lib/pkgconfig/kestrum.pc
#   lib/python3/dist-packages/kestrum/      (KESTRUM_PYTHON_INSTALL_DIR)
#
# The subsystem CMakeLists files only describe the build; everything that is
# about installing lives here, so that they stay as they are.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The libraries a consumer links: the static and the shared runtime, made of
# the same objects (src/api/CMakeLists.txt).
set(KESTRUM_EXPORTED_LIBRARIES kestrum_static kestrum_shared)
set_target_properties(kestrum_static PROPERTIES EXPORT_NAME reader)
set_target_properties(kestrum_shared PROPERTIES EXPORT_NAME reader_shared)

# The public headers (KESTRUM_PUBLIC_HEADERS) are listed in
# src/api/CMakeLists.txt, which also lays them out in the build tree.

set(KESTRUM_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrum)
set(KESTRUM_PYTHON_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/python3/dist-packages
    CACHE STRING "Where the Python module goes, relative to the prefix (Debian's place by default)")

# --- the tool, its manual page and documentation ---------------------------

install(TARGETS kestrum RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/docs/kestrum.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/format.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrum COMPONENT tool)

# --- kestrum-mount: pakfiles through FUSE (Linux only) -------------------------

if(TARGET kestrum-mount)
  install(TARGETS kestrum-mount RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT mount)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/kestrum-mount.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT mount)
endif()

# --- the reader runtime for embedding --------------------------------------

install(TARGETS ${KESTRUM_EXPORTED_LIBRARIES}
  EXPORT KestrumTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
)
foreach(pair IN LISTS KESTRUM_PUBLIC_HEADERS)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 installed)
  get_filename_component(subdir "${installed}" DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${source} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrum/${subdir}
          COMPONENT dev)
endforeach()

# --- what the runtime needs from outside the project -------------------------

# Imported targets that the runtime's libraries may link, with the line that
# lets an installed consumer find each again (KestrumConfig.cmake) and its
# linker flags for pkg-config. Such targets are visible only in the directory
# that imports them, so they are known here by name.
set(KESTRUM_IMPORTED_Threads::Threads_FIND "find_dependency(Threads)")
set(KESTRUM_IMPORTED_Threads::Threads_LIBS "-pthread")
# Found again through the FindKestrumUring.cmake installed beside the
# package, linked by name: no path of the building machine is written down.
set(KESTRUM_IMPORTED_Kestrum::uring_FIND "find_dependency(KestrumUring)")
set(KESTRUM_IMPORTED_Kestrum::uring_LIBS "-luring")

# Walks the link interface of the given targets and sets, in the caller,
# KESTRUM_EXTERNAL_LIBS (linker flags for the libraries outside the project)
# KESTRUM_CONFIG_DEPENDENCIES (find_dependency lines) and
# KESTRUM_EXTERNAL_LIBRARY_FILES (the library files linked by path). Taken from what
# the targets really link, so a new dependency of the runtime shows up in
# both without further ado.
function(kestrum_external_dependencies)
  set(flags "")
  set(finds "")
  set(files "")
  set(pending ${ARGN})
  set(seen "")
  while(pending)
    list(POP_FRONT pending item)
    # A static library's private dependencies appear as $<LINK_ONLY:...>.
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
    if(item IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${item}")
    if(DEFINED KESTRUM_IMPORTED_${item}_FIND)
      list(APPEND finds "${KESTRUM_IMPORTED_${item}_FIND}")
      list(APPEND flags ${KESTRUM_IMPORTED_${item}_LIBS})
      if(TARGET ${item})
        get_target_property(location ${item} IMPORTED_LOCATION)
        if(location)
          list(APPEND files "${location}")
        endif()
      endif()
    elseif(item MATCHES "::")
      message(WARNING "The reader runtime links ${item}: say in cmake/KestrumInstall.cmake how an installed "
                      "consumer finds it (KESTRUM_IMPORTED_${item}_FIND and _LIBS).")
    elseif(TARGET ${item})
      get_target_property(deps ${item} INTERFACE_LINK_LIBRARIES)
      if(deps)
        list(APPEND pending ${deps})
      endif()
    elseif(item MATCHES "LINK_LANGUAGE:CXX")
      # the C++ library for C programs: "-lstdc++" in kestrum.pc's Libs.private
    elseif(item MATCHES "^\\$<")
      message(WARNING "kestrum.pc: link item ${item} is not translated into linker flags")
    elseif(item MATCHES "^-")
      list(APPEND flags "${item}")
    elseif(IS_ABSOLUTE "${item}")
      list(APPEND files "${item}")
      # /usr/lib/x86_64-linux-gnu/liburing.so -> -luring
      get_filename_component(name "${item}" NAME_WE)
      string(REGEX REPLACE "^lib" "" name "${name}")
      list(APPEND flags "-l${name}")
    else()
      list(APPEND flags "-l${item}")
    endif()
  endwhile()
  list(REMOVE_DUPLICATES flags)
  list(JOIN flags " " flags)
  list(REMOVE_DUPLICATES finds)
  list(JOIN finds "\n" finds)
  set(KESTRUM_EXTERNAL_LIBS "${flags}" PARENT_SCOPE)
  set(KESTRUM_CONFIG_DEPENDENCIES "${finds}" PARENT_SCOPE)
  set(KESTRUM_EXTERNAL_LIBRARY_FILES "${files}" PARENT_SCOPE)
endfunction()
kestrum_external_dependencies(${KESTRUM_EXPORTED_LIBRARIES})

# --- CMake package ----------------------------------------------------------

install(EXPORT KestrumTargets NAMESPACE Kestrum:: DESTINATION ${KESTRUM_CMAKE_PACKAGE_DIR} COMPONENT dev)
if(NOT WIN32)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/FindKestrumUring.cmake DESTINATION ${KESTRUM_CMAKE_PACKAGE_DIR}
          COMPONENT dev)
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KestrumConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KestrumConfig.cmake
  INSTALL_DESTINATION ${KESTRUM_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrumConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestrumConfig.cmake ${PROJECT_BINARY_DIR}/KestrumConfigVersion.cmake
        DESTINATION ${KESTRUM_CMAKE_PACKAGE_DIR} COMPONENT dev)

# --- pkg-config --------------------------------------------------------------

# Programs link the shared library by default (-lkestrum); with
# "pkg-config --static" and -static (or -l:libkestrum.a) the static one, with
# what it needs from outside in Libs.private: liburing by name, the thread
# library, and the C++ library for C programs.
set(KESTRUM_PC_LIBS "-lkestrum")
set(KESTRUM_PC_LIBS_PRIVATE "${KESTRUM_EXTERNAL_LIBS} -lstdc++")
string(STRIP "${KESTRUM_PC_LIBS_PRIVATE}" KESTRUM_PC_LIBS_PRIVATE)

# The prefix is found relative to the .pc file itself, so the file stays
# right wherever the tree is installed (cmake --install --prefix, CPack).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KESTRUM_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(KESTRUM_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH up "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" up "${up}")
  set(KESTRUM_PC_PREFIX "\${pcfiledir}/${up}")
  set(KESTRUM_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(KESTRUM_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(KESTRUM_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/kestrum.pc.in ${PROJECT_BINARY_DIR}/kestrum.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kestrum.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# --- the Python module --------------------------------------------------------

# The module finds the shared library through the path from its own folder
# to the library's, written at install time, so that it works in any prefix.
if(WIN32)
  set(library_dir ${CMAKE_INSTALL_BINDIR})
  set(library_name kestrum.dll)
else()
  set(library_dir ${CMAKE_INSTALL_LIBDIR})
  set(library_name libkestrum.so.${PROJECT_VERSION_MAJOR})
endif()
file(RELATIVE_PATH KESTRUM_PY_LIBRARY_DIR "/root/${KESTRUM_PYTHON_INSTALL_DIR}/kestrum" "/root/${library_dir}")
set(KESTRUM_PY_LIBRARY_NAME ${library_name})
configure_file(${PROJECT_SOURCE_DIR}/src/python/kestrum/_installed.py.in ${PROJECT_BINARY_DIR}/python/_installed.py
               @ONLY)
install(FILES ${PROJECT_SOURCE_DIR}/src/python/kestrum/__init__.py ${PROJECT_BINARY_DIR}/python/_installed.py
        DESTINATION ${KESTRUM_PYTHON_INSTALL_DIR}/kestrum COMPONENT python)

include(${CMAKE_CURRENT_LIST_DIR}/KestrumPackage.cmake)
