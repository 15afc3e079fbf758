# Finds libfuse3 (Debian's libfuse3-dev), under kestrum-mount, and gives it as
# the imported target Kestrum::fuse3.
include(FindPackageHandleStandardArgs)
find_path(KESTRUM_FUSE3_INCLUDE_DIR fuse_lowlevel.h PATH_SUFFIXES fuse3)
find_library(KESTRUM_FUSE3_LIBRARY fuse3)
find_package_handle_standard_args(KestrumFuse3 REQUIRED_VARS KESTRUM_FUSE3_LIBRARY KESTRUM_FUSE3_INCLUDE_DIR)
if(KestrumFuse3_FOUND AND NOT TARGET Kestrum::fuse3)
  add_library(Kestrum::fuse3 UNKNOWN IMPORTED)
  set_target_properties(Kestrum::fuse3 PROPERTIES IMPORTED_LOCATION "${KESTRUM_FUSE3_LIBRARY}"
                                                  INTERFACE_INCLUDE_DIRECTORIES "${KESTRUM_FUSE3_INCLUDE_DIR}")
endif()
mark_as_advanced(KESTRUM_FUSE3_INCLUDE_DIR KESTRUM_FUSE3_LIBRARY)
