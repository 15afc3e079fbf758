#include "format/pak_layout.h"

#include <cstdio>
#include <cstring>

namespace kestrum {

std::array<std::uint8_t, kSignatureSize> MakeSignature() {
  std::array<std::uint8_t, kSignatureSize> signature{};
  char text[kSignatureSize] = {};
  std::snprintf(text, sizeof text, "KESTR V %d.%d\r\n", kVersionMajor, kVersionMinor);
  std::memcpy(signature.data(), text, std::strlen(text));
  return signature;
}

void EncodeHeader(const PakHeader& h, std::span<std::uint8_t, kFixedHeaderSize> out) {
  std::uint8_t* p = out.data();
  std::memcpy(p, h.signature.data(), kSignatureSize);
  StoreU32(p + 20, h.byte_order_mark);
  StoreU32(p + 24, h.stamp);
  StoreU32(p + 28, h.layout_tag);
  StoreU32(p + 32, h.checksum);
  StoreU32(p + 36, h.entry_count);
  StoreU32(p + 40, h.first_in_data_order);
  StoreU32(p + 44, h.header_size);
  StoreU32(p + 48, h.file_size);
}

PakHeader DecodeHeader(std::span<const std::uint8_t, kFixedHeaderSize> in) {
  const std::uint8_t* p = in.data();
  PakHeader h;
  std::memcpy(h.signature.data(), p, kSignatureSize);
  h.byte_order_mark = LoadU32(p + 20);
  h.stamp = LoadU32(p + 24);
  h.layout_tag = LoadU32(p + 28);
  h.checksum = LoadU32(p + 32);
  h.entry_count = LoadU32(p + 36);
  h.first_in_data_order = LoadU32(p + 40);
  h.header_size = LoadU32(p + 44);
  h.file_size = LoadU32(p + 48);
  return h;
}

void EncodeDirRecord(const DirRecord& r, std::span<std::uint8_t, kDirRecordSize> out) {
  std::uint8_t* p = out.data();
  StoreU32(p, r.size);
  StoreU32(p + 4, r.data_offset);
  StoreU32(p + 8, (r.name_offset & 0xFFFFFFu) | static_cast<std::uint32_t>(r.next_in_data_order >> 8) << 24);
  StoreU32(p + 12, (r.dir_offset & 0xFFFFFFu) | static_cast<std::uint32_t>(r.next_in_data_order & 0xFF) << 24);
}

DirRecord DecodeDirRecord(std::span<const std::uint8_t, kDirRecordSize> in) {
  const std::uint8_t* p = in.data();
  DirRecord r;
  r.size = LoadU32(p);
  r.data_offset = LoadU32(p + 4);
  r.name_offset = LoadU32(p + 8) & 0xFFFFFFu;
  r.dir_offset = LoadU32(p + 12) & 0xFFFFFFu;
  r.next_in_data_order = static_cast<std::uint16_t>(p[11] << 8 | p[15]);
  return r;
}

}  // namespace kestrum
