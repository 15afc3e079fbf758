# Installation of Kestrum, in two components: "tool", the kestrum tool with
# its manual page and documentation, and "dev", for programs that embed the
# reader runtime: its static libraries, its public headers, a CMake package
# (find_package(Kestrum) -> Kestrum::reader) and a pkg-config file
# (kestrum.pc). cmake --install installs both; CPack makes one Debian package
# of each (KestrumPackage.cmake).
#
# Installed layout, relative to the prefix:
#   bin/kestrum
#   share/man/man1/kestrum.1
#   share/doc/kestrum/{README.md,format.md}
#   include/kestrum/pak_reader.h            #include <kestrum/pak_reader.h>
#   include/kestrum/format/pak_layout.h     reached from pak_reader.h by its
#                                           own "format/pak_layout.h" include,
#                                           which resolves beside the header
#   lib/libkestrum_{reader,io,format}.a
#   lib/cmake/Kestrum/Kestrum{Config,ConfigVersion,Targets}.cmake
#   lib/pkgconfig/kestrum.pc
#
# The subsystem CMakeLists files only describe the build; everything that is
# about installing lives here, so that they stay as they are.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The libraries a consumer links, in link order (the runtime first). They get
# prefixed file names, since "libio.a" or "libformat.a" would clash in a
# system library directory, and plain export names under Kestrum::.
set(KESTRUM_EXPORTED_LIBRARIES reader io format)

# The reader's public headers: source file and path below include/kestrum/.
# pak_reader.h includes "format/pak_layout.h"; installing that header under
# the same relative path beside it lets the quoted include resolve without
# an extra include directory for consumers.
set(KESTRUM_PUBLIC_HEADERS
  "src/reader/pak_reader.h=pak_reader.h"
  "src/format/pak_layout.h=format/pak_layout.h"
  "src/format/locale_key.h=format/locale_key.h"
  "src/format/kestrum_export.h=format/kestrum_export.h"
)

set(KESTRUM_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrum)

# A target's include directories point into the source tree, which must not
# leak into the installed package: they are kept for the build tree only.
# Consumers of the installed package get the prefix's include/ directory
# (install(TARGETS ... INCLUDES DESTINATION) below).
function(kestrum_build_tree_includes_only target)
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  if(NOT dirs)
    return()
  endif()
  set(wrapped "")
  foreach(dir IN LISTS dirs)
    if(dir MATCHES "^\\$<")
      list(APPEND wrapped "${dir}")
    else()
      list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
    endif()
  endforeach()
  set_property(TARGET ${target} PROPERTY INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
endfunction()

foreach(lib IN LISTS KESTRUM_EXPORTED_LIBRARIES)
  kestrum_build_tree_includes_only(${lib})
  set_target_properties(${lib} PROPERTIES OUTPUT_NAME kestrum_${lib} EXPORT_NAME ${lib})
  # The public headers use C++20 (std::span, defaulted comparisons).
  target_compile_features(${lib} INTERFACE cxx_std_20)
endforeach()

# --- the tool, its manual page and documentation ---------------------------

install(TARGETS kestrum RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/docs/kestrum.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/format.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrum COMPONENT tool)

# --- the reader runtime for embedding --------------------------------------

install(TARGETS ${KESTRUM_EXPORTED_LIBRARIES}
  EXPORT KestrumTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
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
    elseif(item MATCHES "::")
      message(WARNING "The reader runtime links ${item}: say in cmake/KestrumInstall.cmake how an installed "
                      "consumer finds it (KESTRUM_IMPORTED_${item}_FIND and _LIBS).")
    elseif(TARGET ${item})
      get_target_property(deps ${item} INTERFACE_LINK_LIBRARIES)
      if(deps)
        list(APPEND pending ${deps})
      endif()
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
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KestrumConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KestrumConfig.cmake
  INSTALL_DESTINATION ${KESTRUM_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrumConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestrumConfig.cmake ${PROJECT_BINARY_DIR}/KestrumConfigVersion.cmake
        DESTINATION ${KESTRUM_CMAKE_PACKAGE_DIR} COMPONENT dev)

# --- pkg-config --------------------------------------------------------------

set(KESTRUM_PC_LIBS "")
foreach(lib IN LISTS KESTRUM_EXPORTED_LIBRARIES)
  get_target_property(type ${lib} TYPE)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    string(APPEND KESTRUM_PC_LIBS " -lkestrum_${lib}")
  endif()
endforeach()
string(STRIP "${KESTRUM_PC_LIBS} ${KESTRUM_EXTERNAL_LIBS}" KESTRUM_PC_LIBS)

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

include(${CMAKE_CURRENT_LIST_DIR}/KestrumPackage.cmake)
