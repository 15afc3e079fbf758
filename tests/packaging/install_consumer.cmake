# Installs the build tree into a fresh prefix and builds programs against
# that prefix alone, then runs them:
#  - the C++ program of consumer/, through find_package(Kestrum), linked
#    statically (Kestrum::reader) and to the shared library
#    (Kestrum::reader_shared);
#  - the C99 program of tests/api, in a project that knows only C, both ways,
#    and through pkg-config (shared, and static with "pkg-config --static"),
#    each on a pakfile built by the installed tool.
# Also checks that the installed CMake and pkg-config files name liburing
# only by name, never by a path of the building machine.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DGENERATOR=... -DCXX=... -DCC=...
#         [-DCXX_FLAGS=...] [-DC_FLAGS=...] -DPKG_CONFIG=... -P install_consumer.cmake

include(${CMAKE_CURRENT_LIST_DIR}/script_helpers.cmake)
require_variables(install_consumer.cmake BUILD_DIR WORK_DIR SOURCE_DIR GENERATOR CXX CC)

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file include/kestrum/kestrum.h include/kestrum/pak_reader.h include/kestrum/format/pak_layout.h
             include/kestrum/format/locale_key.h include/kestrum/format/kestrum_export.h lib/libkestrum.a
             lib/libkestrum.so lib/libkestrum.so.1 lib/cmake/Kestrum/KestrumConfig.cmake
             lib/cmake/Kestrum/FindKestrumUring.cmake lib/pkgconfig/kestrum.pc
             lib/python3/dist-packages/kestrum/__init__.py share/man/man1/kestrum.1.gz bin/kestrum
             share/doc/kestrum/copyright share/doc/libkestrum1/changelog.Debian.gz)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# Relocatable: liburing by name, no path of this machine.
file(GLOB package_files ${prefix}/lib/cmake/Kestrum/*.cmake ${prefix}/lib/pkgconfig/kestrum.pc)
foreach(file IN LISTS package_files)
  file(READ ${file} content)
  if(content MATCHES "[/\\\\][^ \"';]*liburing" OR content MATCHES "${BUILD_DIR}" OR content MATCHES "${SOURCE_DIR}")
    message(FATAL_ERROR "${file} names a path of the building machine")
  endif()
endforeach()

# The installed tool runs and prints its usage, and builds the C program's pakfile.
run(${prefix}/bin/kestrum)
if(NOT last_output MATCHES "Kestrum V1\\.0" OR NOT last_output MATCHES "Usage:")
  message(FATAL_ERROR "installed kestrum printed no usage:\n${last_output}")
endif()
set(pak_dir ${WORK_DIR}/pak)
file(WRITE ${pak_dir}/data/a.txt "0123456789")
file(WRITE ${pak_dir}/data/empty.txt "")
file(WRITE ${pak_dir}/readme "readme\n")
file(WRITE ${pak_dir}/list.txt "data/a.txt\ndata/empty.txt\nreadme\n")
run(${prefix}/bin/kestrum fr -a list.txt c_program.pak DIR ${pak_dir})
set(pak ${pak_dir}/c_program.pak)

# find_package(Kestrum) with nothing but the prefix to go on.
foreach(target reader reader_shared)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/consumer -B ${WORK_DIR}/cxx-${target} -G ${GENERATOR}
      -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_PREFIX_PATH=${prefix}
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DKESTRUM_TARGET=Kestrum::${target})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/cxx-${target})
  run(${WORK_DIR}/cxx-${target}/consumer)
  message(STATUS "C++, Kestrum::${target}: ${last_output}")

  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/c_consumer -B ${WORK_DIR}/c-${target} -G ${GENERATOR}
      -DCMAKE_C_COMPILER=${CC} "-DCMAKE_C_FLAGS=${C_FLAGS}" -DCMAKE_PREFIX_PATH=${prefix}
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DKESTRUM_TARGET=Kestrum::${target}
      -DC_PROGRAM=${SOURCE_DIR}/../api/c_program.c)
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/c-${target})
  run(${WORK_DIR}/c-${target}/c_consumer ${pak})
  message(STATUS "C, Kestrum::${target}: ${last_output}")
endforeach()

# pkg-config, resolving the prefix from the .pc file's own place.
if(NOT PKG_CONFIG)
  message(STATUS "pkg-config not found: kestrum.pc not checked")
  return()
endif()
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
separate_arguments(c_extra UNIX_COMMAND "${C_FLAGS}")
separate_arguments(cxx_extra UNIX_COMMAND "${CXX_FLAGS}")
run(${PKG_CONFIG} --cflags --libs kestrum)
separate_arguments(flags UNIX_COMMAND "${last_output}")
run(${CXX} -std=c++20 ${cxx_extra} ${SOURCE_DIR}/consumer/main.cc ${flags} -Wl,-rpath,${prefix}/lib
    -o ${WORK_DIR}/pkg-config-consumer)
run(${WORK_DIR}/pkg-config-consumer)
run(${CC} -std=c99 -pedantic-errors -Wall -Wextra -Werror ${c_extra} ${SOURCE_DIR}/../api/c_program.c ${flags}
    -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/pkg-config-c)
run(${WORK_DIR}/pkg-config-c ${pak})
message(STATUS "pkg-config kestrum, C, shared: ${last_output}")

# Static: the archive by its file name, and what it needs from Libs.private.
run(${PKG_CONFIG} --static --libs kestrum)
string(REPLACE "-lkestrum " "-l:libkestrum.a " static_flags "${last_output} ")
separate_arguments(static_flags UNIX_COMMAND "${static_flags}")
run(${PKG_CONFIG} --cflags kestrum)
separate_arguments(cflags UNIX_COMMAND "${last_output}")
run(${CC} -std=c99 ${c_extra} ${SOURCE_DIR}/../api/c_program.c ${cflags} ${static_flags} -o ${WORK_DIR}/static-c)
run(${WORK_DIR}/static-c ${pak})
execute_process(COMMAND objdump -p ${WORK_DIR}/static-c OUTPUT_VARIABLE dynamic)
if(dynamic MATCHES "libkestrum")
  message(FATAL_ERROR "the program linked with pkg-config --static still needs libkestrum.so")
endif()
message(STATUS "pkg-config --static kestrum, C: ${last_output}")
