// One line of a list file, as the pack builder carries it from the list file
// reader to the written pakfile.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrum {

struct PackEntry {
  std::uint32_t name_length = 0;  // bytes of `name`
  std::uint32_t size = 0;         // the file's length, set by the existence check
  std::uint32_t data_offset = 0;  // from the start of the data area
  // The normalised path (lower case, '\' separators), NUL-terminated inside a
  // list buffer that outlives the entry table's use.
  const char* name = nullptr;
  // The same line's own text after its '*' markers, case and separators as
  // written, NUL-terminated: what the file is opened by on this platform.
  const char* source = nullptr;
  std::uint16_t hash = 0;  // name hash of `name`
  // Position of the last '\' in `name`, -1 when there is none. Kept wider than
  // the format needs so that no list line, however long, can overflow it.
  std::int32_t split = -1;
  std::int32_t dir_string_offset = -1;  // pool offset of this entry's directory string, once stored
  std::uint8_t mask_data = 1;           // 0 when the list line began with '*'
};

using EntryTable = std::vector<PackEntry>;

}  // namespace kestrum
