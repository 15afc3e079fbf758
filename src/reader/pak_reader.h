// The reader runtime's public interface (being built).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "format/pak_layout.h"

namespace kestrum {

struct PakFileHandle {
  std::int32_t pak_index = -1;
  std::int32_t pak_id = -1;
  std::int32_t entry = 0;
  std::uint32_t read_pos = 0;
};

std::int32_t PakOpen(std::string_view path, std::uint32_t block_kib, std::string_view cache_path, std::uint32_t stamp,
                     bool make_copy);
void PakClose(std::int32_t position);
void PakCloseAll();
void PakGetDirectory(std::int32_t pak_id, PakHeader& header, std::vector<std::uint8_t>& names,
                     std::vector<DirRecord>& records);
PakFileHandle* PakFileOpen(std::string_view path);
std::int32_t PakFileSize(PakFileHandle* handle);
std::int32_t PakFileRead(PakFileHandle* handle, void* destination, std::uint32_t count);
void PakFileClose(PakFileHandle* handle);
bool PakFileValidate(PakFileHandle* handle);

}  // namespace kestrum
