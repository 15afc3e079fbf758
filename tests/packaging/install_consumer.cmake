# Installs the build tree into a fresh prefix and builds a program against
# that prefix alone, once through find_package(Kestrum) and once through
# pkg-config (when pkg-config is there), then runs it.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DGENERATOR=...
#         -DCXX=... [-DCXX_FLAGS=...] -DPKG_CONFIG=... -P install_consumer.cmake

include(${CMAKE_CURRENT_LIST_DIR}/script_helpers.cmake)
require_variables(install_consumer.cmake BUILD_DIR WORK_DIR SOURCE_DIR GENERATOR CXX)

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file include/kestrum/pak_reader.h include/kestrum/format/pak_layout.h lib/cmake/Kestrum/KestrumConfig.cmake
             lib/pkgconfig/kestrum.pc share/man/man1/kestrum.1 bin/kestrum)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The installed tool runs and prints its usage.
run(${prefix}/bin/kestrum)
if(NOT last_output MATCHES "Kestrum V1\\.0" OR NOT last_output MATCHES "Usage:")
  message(FATAL_ERROR "installed kestrum printed no usage:\n${last_output}")
endif()

# find_package(Kestrum) with nothing but the prefix to go on.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/consumer -B ${WORK_DIR}/cmake-build -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/consumer)
message(STATUS "find_package(Kestrum): ${last_output}")

# pkg-config --cflags --libs kestrum.
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  run(${PKG_CONFIG} --cflags --libs kestrum)
  string(STRIP "${last_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  separate_arguments(extra UNIX_COMMAND "${CXX_FLAGS}")
  run(${CXX} -std=c++20 ${extra} ${SOURCE_DIR}/consumer/main.cc ${flags} -o ${WORK_DIR}/pkg-config-consumer)
  run(${WORK_DIR}/pkg-config-consumer)
  message(STATUS "pkg-config kestrum: ${last_output}")
else()
  message(STATUS "pkg-config not found: kestrum.pc not checked")
endif()
