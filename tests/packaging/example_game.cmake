# Builds examples/embed_game against an installed Kestrum and runs it the way
# a game would: a base pakfile with a local cache copy, a patch pakfile that
# shadows one of its files, paths in any case and with either slash; then
# runs it again with the base pakfile gone, served from the finished copy.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DEXAMPLE_DIR=... -DGENERATOR=... -DCXX=... [-DCXX_FLAGS=...]
#         -P example_game.cmake

include(${CMAKE_CURRENT_LIST_DIR}/script_helpers.cmake)
require_variables(example_game.cmake BUILD_DIR WORK_DIR EXAMPLE_DIR GENERATOR CXX)

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR}/example-build -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/example-build)
set(game ${WORK_DIR}/example-build/embed_game)

# The game's data: a base pakfile and a patch that replaces one level.
file(WRITE ${WORK_DIR}/base/Data/Level1.map "base level one")
file(WRITE ${WORK_DIR}/base/data/level2.map "base level two")
file(WRITE ${WORK_DIR}/base/list.txt "Data/Level1.map\ndata/level2.map\n")
file(WRITE ${WORK_DIR}/patch/data/level1.map "patched level one")
file(WRITE ${WORK_DIR}/patch/list.txt "data/level1.map\n")
run(${prefix}/bin/kestrum -- -a list.txt ../base.pak DIR ${WORK_DIR}/base)
run(${prefix}/bin/kestrum -- -a list.txt ../patch.pak DIR ${WORK_DIR}/patch)

set(expected "DATA/LEVEL1.MAP: 17 bytes: patched level one\ndata\\level2.map: 14 bytes: base level two\ndata/none.map: missing\n")
run(${game} base.pak patch.pak cache.pak DATA/LEVEL1.MAP "data\\level2.map" data/none.map)
if(NOT last_output STREQUAL expected)
  message(FATAL_ERROR "first run printed:\n${last_output}\nexpected:\n${expected}")
endif()

# The cache copy is the base pakfile byte for byte, but for the stamp.
file(READ ${WORK_DIR}/base.pak base_hex HEX)
file(READ ${WORK_DIR}/cache.pak copy_hex HEX)
string(LENGTH "${base_hex}" base_length)
string(LENGTH "${copy_hex}" copy_length)
if(NOT base_length EQUAL copy_length)
  message(FATAL_ERROR "cache copy has ${copy_length} hex digits, the base pakfile ${base_length}")
endif()
string(SUBSTRING "${base_hex}" 0 48 base_head)
string(SUBSTRING "${copy_hex}" 0 48 copy_head)
string(SUBSTRING "${base_hex}" 56 -1 base_rest)
string(SUBSTRING "${copy_hex}" 56 -1 copy_rest)
string(SUBSTRING "${copy_hex}" 48 8 copy_stamp)
if(NOT base_head STREQUAL copy_head OR NOT base_rest STREQUAL copy_rest)
  message(FATAL_ERROR "cache copy differs from the base pakfile outside the stamp")
endif()
if(NOT copy_stamp STREQUAL "52487c7a")  # 0x20261208, little-endian, masked with 0x5A
  message(FATAL_ERROR "cache copy stamp is ${copy_stamp}")
endif()

# A later start reads the finished copy: the base pakfile is not needed.
file(REMOVE ${WORK_DIR}/base.pak)
run(${game} base.pak patch.pak cache.pak DATA/LEVEL1.MAP "data\\level2.map" data/none.map)
if(NOT last_output STREQUAL expected)
  message(FATAL_ERROR "run from the cache copy printed:\n${last_output}")
endif()
message(STATUS "embed_game: base, patch and cache copy behave")
