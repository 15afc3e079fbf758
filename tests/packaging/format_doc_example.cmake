# Holds docs/format.md to what kestrum really writes: builds the document's
# worked example with the tool, then checks every byte that the document
# shows (the stored dumps, the plain directory records, the plain name pool,
# the checksum and the printed sizes) and redoes the document's decoding
# steps (unmask, unscramble with and without the locale key, CRC without
# final inversion over the covered bytes) on the tool's output.
#
#   cmake -DKESTRUM=<tool> -DDOC=<format.md> -DWORK_DIR=<dir> -P format_doc_example.cmake

foreach(var KESTRUM DOC WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "format_doc_example.cmake: ${var} is not set")
  endif()
endforeach()

set(failures 0)
macro(expect condition_text)
  if(NOT (${ARGN}))
    message(SEND_ERROR "format.md disagrees with kestrum: ${condition_text}")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

# --- build the example with the tool ------------------------------------------

file(REMOVE_RECURSE ${WORK_DIR})
file(WRITE ${WORK_DIR}/data/a.txt "0123456789")
file(WRITE ${WORK_DIR}/data/b.txt "")
file(WRITE ${WORK_DIR}/data/sub/c.txt "hello")
file(WRITE ${WORK_DIR}/readme "readme\n")
file(WRITE ${WORK_DIR}/list.txt "data\\a.txt\r\ndata\\b.txt\r\ndata\\sub\\c.txt\r\nreadme\r\n")

foreach(locale -- fr)
  execute_process(COMMAND ${KESTRUM} ${locale} -a list.txt ${locale}.pak WORKING_DIRECTORY ${WORK_DIR}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output_${locale})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "kestrum ${locale} -a list.txt failed (${status}):\n${output_${locale}}")
  endif()
  file(READ ${WORK_DIR}/${locale}.pak pak_${locale} HEX)
endforeach()
string(LENGTH "${pak_--}" hex_length)
expect("the example pakfile is 4096 bytes long" hex_length EQUAL 8192)

# Byte `index` of a hex string, as a number.
function(byte_at hex index out)
  math(EXPR at "${index} * 2")
  string(SUBSTRING "${hex}" ${at} 2 b)
  math(EXPR v "0x${b}")
  set(${out} ${v} PARENT_SCOPE)
endfunction()

# Two lower-case hex digits.
function(hex2 value out)
  math(EXPR v "${value} & 0xFF" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${v}" 2 -1 v)
  string(LENGTH "${v}" n)
  if(n EQUAL 1)
    set(v "0${v}")
  endif()
  set(${out} ${v} PARENT_SCOPE)
endfunction()

# "34 17 74" -> "341774"
function(compact text out)
  string(REPLACE " " "" text "${text}")
  string(TOLOWER "${text}" text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# --- the printed sizes ---------------------------------------------------------

file(READ ${DOC} doc)
string(REGEX MATCH "Total file size = [0-9]+ \\(header=[0-9]+ \\+ data=[0-9]+\\)" printed "${output_--}")
expect("kestrum printed a size line" printed)
string(FIND "${doc}" "`${printed}`" at)
expect("the document shows the size line '${printed}'" NOT at EQUAL -1)

# --- the stored dumps: block 0 is the pakfile built with --, block 1 the one
# built with fr (the data area is the same in both) ---------------------------

file(STRINGS ${DOC} dump_lines REGEX "^[0-9][0-9][0-9][0-9]  [0-9a-f][0-9a-f]( [0-9a-f][0-9a-f])*")
set(block 0)
set(previous -1)
set(checked_bytes 0)
foreach(line IN LISTS dump_lines)
  string(REGEX MATCH "^([0-9]+)  (([0-9a-f][0-9a-f] ?)+)" _ "${line}")
  math(EXPR offset "${CMAKE_MATCH_1}")  # decimal; leading zeros allowed
  string(STRIP "${CMAKE_MATCH_2}" bytes)
  if(offset LESS_EQUAL previous)
    math(EXPR block "${block} + 1")
  endif()
  set(previous ${offset})
  if(block EQUAL 0)
    set(pak "${pak_--}")
  elseif(block EQUAL 1)
    set(pak "${pak_fr}")
  else()
    message(FATAL_ERROR "format.md has more dump blocks than this test knows: ${line}")
  endif()
  compact("${bytes}" shown)
  string(LENGTH "${shown}" n)
  math(EXPR at "${offset} * 2")
  string(SUBSTRING "${pak}" ${at} ${n} actual)
  expect("dump line '${line}' (kestrum wrote ${actual})" shown STREQUAL actual)
  math(EXPR checked_bytes "${checked_bytes} + ${n} / 2")
endforeach()
expect("the dumps show the header region, the fr pool and the data area (${checked_bytes} bytes)"
       checked_bytes EQUAL 222)

# --- unmask the header region ----------------------------------------------------

byte_at("${pak_--}" 44 header_size)
math(EXPR header_size "${header_size} ^ 0x5A")  # low byte of header_size, masked like the rest
expect("header_size is 158" header_size EQUAL 158)
set(plain "")
math(EXPR last "${header_size} - 1")
foreach(i RANGE 0 ${last})
  byte_at("${pak_--}" ${i} b)
  math(EXPR b "${b} ^ 0x5A")
  hex2(${b} h)
  string(APPEND plain "${h}")
endforeach()

# The directory records as the table shows them.
file(STRINGS ${DOC} record_rows REGEX "^\\| [0-9] \\| [^|]+ \\|.*`[0-9a-f ]+` \\|$")
list(LENGTH record_rows rows)
expect("the directory table has 4 rows" rows EQUAL 4)
foreach(row IN LISTS record_rows)
  string(REGEX MATCH "^\\| ([0-9]) \\|" _ "${row}")
  set(index ${CMAKE_MATCH_1})
  string(REGEX MATCH "`([0-9a-f ]+)` \\|$" _ "${row}")
  compact("${CMAKE_MATCH_1}" shown)
  math(EXPR at "(52 + 16 * ${index}) * 2")
  string(SUBSTRING "${plain}" ${at} 32 actual)
  expect("record ${index} is ${actual}" shown STREQUAL actual)
endforeach()

# The checksum as the document states it.
string(REGEX MATCH "`checksum` 0x([0-9A-Fa-f]+)" _ "${doc}")
set(doc_checksum "${CMAKE_MATCH_1}")
set(stored "")
foreach(i 35 34 33 32)
  math(EXPR at "${i} * 2")
  string(SUBSTRING "${plain}" ${at} 2 b)
  string(APPEND stored "${b}")
endforeach()
string(TOLOWER "${doc_checksum}" doc_checksum)
expect("the checksum is 0x${stored}" doc_checksum STREQUAL stored)

# --- unscramble the pool as the document describes, with and without a key ----

file(STRINGS ${DOC} pool_lines REGEX "^([0-9a-f][0-9a-f] )+[0-9a-f][0-9a-f]$")
set(doc_pool "")
foreach(line IN LISTS pool_lines)
  compact("${line}" c)
  string(APPEND doc_pool "${c}")
endforeach()
string(LENGTH "${doc_pool}" n)
expect("the plain pool shown is 42 bytes" n EQUAL 84)

set(pool_size 42)
set(key_0 0x66)  # 'f'
set(key_1 0x72)  # 'r'
foreach(locale -- fr)
  set(pool "")
  math(EXPR last "${pool_size} - 1")
  foreach(i RANGE 0 ${last})
    math(EXPR r "${pool_size} - ${i}")
    math(EXPR k "${r} & 1")
    math(EXPR at "116 + ${i}")
    byte_at("${pak_${locale}}" ${at} b)
    math(EXPR b "(${b} ^ 0x5A) ^ 0x3D")
    if(locale STREQUAL "fr")
      math(EXPR b "${b} ^ ${key_${k}}")
    endif()
    math(EXPR b "(${b} + ${r}) & 0xFF")
    hex2(${b} h)
    string(APPEND pool "${h}")
  endforeach()
  expect("the ${locale} pool unscrambles to the plain pool shown (got ${pool})" pool STREQUAL doc_pool)
endforeach()

# --- the checksum over the covered bytes, as the document describes ----------

# Fixed part as unmasked (signature therefore masked once), stamp and checksum
# as all ones; directory; plain pool.
string(SUBSTRING "${plain}" 0 48 covered)
string(APPEND covered "ffffffff")
string(SUBSTRING "${plain}" 56 8 part)
string(APPEND covered "${part}ffffffff")
string(SUBSTRING "${plain}" 72 160 part)  # offsets 36..115
string(APPEND covered "${part}${doc_pool}")
string(LENGTH "${covered}" n)
math(EXPR count "${n} / 2 - 1")
set(crc 0xFFFFFFFF)
foreach(i RANGE 0 ${count})
  byte_at("${covered}" ${i} b)
  math(EXPR crc "${crc} ^ ${b}")
  foreach(bit RANGE 7)
    math(EXPR low "${crc} & 1")
    if(low)
      math(EXPR crc "(${crc} >> 1) ^ 0xEDB88320")
    else()
      math(EXPR crc "${crc} >> 1")
    endif()
  endforeach()
endforeach()
math(EXPR crc "${crc} | 0x100000000" OUTPUT_FORMAT HEXADECIMAL)  # keeps leading zeros
string(SUBSTRING "${crc}" 3 -1 crc)
expect("the register over the covered bytes is 0x${crc}" crc STREQUAL doc_checksum)

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} disagreement(s) between docs/format.md and kestrum")
endif()
message(STATUS "docs/format.md: ${checked_bytes} dumped bytes, 4 records, pool, checksum agree with kestrum")
