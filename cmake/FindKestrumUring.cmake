# Finds liburing, the Linux io_uring library under Kestrum's overlapped reads,
# and gives it as the imported target Kestrum::uring. Used by the build and,
# installed beside KestrumConfig.cmake, by programs that link the static
# runtime: the exported targets name Kestrum::uring, never a path of the
# machine that built them.
include(FindPackageHandleStandardArgs)
find_path(KESTRUM_URING_INCLUDE_DIR liburing.h)
find_library(KESTRUM_URING_LIBRARY uring)
find_package_handle_standard_args(KestrumUring REQUIRED_VARS KESTRUM_URING_LIBRARY KESTRUM_URING_INCLUDE_DIR)
if(KestrumUring_FOUND AND NOT TARGET Kestrum::uring)
  add_library(Kestrum::uring UNKNOWN IMPORTED)
  set_target_properties(Kestrum::uring PROPERTIES IMPORTED_LOCATION "${KESTRUM_URING_LIBRARY}"
                                                  INTERFACE_INCLUDE_DIRECTORIES "${KESTRUM_URING_INCLUDE_DIR}")
endif()
mark_as_advanced(KESTRUM_URING_INCLUDE_DIR KESTRUM_URING_LIBRARY)
