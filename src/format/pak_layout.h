// The pakfile format.
//
// A pakfile is one file holding many data files. All integers are
// little-endian; n is the number of files, P the name pool size, T the sum of
// the files' sizes.
//
//   offset            size     region
//   0                 52       fixed part (PakHeader)
//   52                16 * n   directory: n DirRecords in hash order
//   52 + 16n          P        name pool (scrambled)
//   header_size       T        data area: the files' bytes back to back, in data order
//   header_size + T   0..4095  tail: padding up to file_size, a multiple of 4096
//
// Fixed part:
//   0  char[20] signature        "KESTR V 1.0\r\n", NUL at 13, 14..19 unused
//   20 u32 byte_order_mark       0x01020304
//   24 u32 stamp                 0xFFFFFFFF, or a cache copy's own stamp
//   28 u32 layout_tag            0x00010000
//   32 u32 checksum              see below
//   36 u32 entry_count           n, 1..65535
//   40 u32 first_in_data_order   directory index of the file whose bytes come first
//   44 u32 header_size           52 + 16n + P, where the data area begins
//   48 u32 file_size             header_size + T rounded up to a multiple of 4096
//
// DirRecord (16 bytes):
//   0  u32 size                  the file's length
//   4  u32 data_offset           from the start of the data area
//   8  u24 name_offset           into the pool: the file's name record
//   11 u8  next_in_data_order, high byte
//   12 u24 dir_offset            into the pool: the directory string, 0 if none
//   15 u8  next_in_data_order, low byte
// next_in_data_order is the directory index of the file whose bytes follow
// this one's (0 for the last); the chain from first_in_data_order ends after
// entry_count files.
//
// Name pool: NUL-terminated items.
//   name record:      hash high byte, hash low byte, file-name part reversed, NUL
//   directory string: directory part reversed, NUL
// A path is cut at its last '\'. Files of one directory share one dir_offset;
// a directory that is a prefix of a longer stored one points into the longer
// one's reversed string. Copies of one path are neighbouring records with
// equal name_offset and dir_offset.
//
// Directory order (hash order): by name hash, then by the path compared from
// its last byte backwards, unsigned, a path that runs out first coming first.
//
// Protection of the header region, as written:
//   1. plain image with stamp and checksum = 0xFFFFFFFF;
//   2. the 20 signature bytes XORed with the data mask;
//   3. checksum = CRC register from 0xFFFFFFFF over the 52 + 16n + P bytes of
//      that image (pool still plain), without final inversion;
//   4. the pool scrambled as one block (ScrambleHeader);
//   5. all header_size bytes XORed with the data mask.
// So the signature text reads plain in the file. Data-area bytes are XORed
// with the data mask too, unless the list file marked the file with '*'.
#pragma once

#include <array>
#include <cstdint>
#include <span>

// Included beside this header, in the source tree as in the installed one.
#include "kestrum_export.h"

namespace kestrum {

inline constexpr std::uint32_t kFixedHeaderSize = 52;
inline constexpr std::uint32_t kDirRecordSize = 16;
inline constexpr std::uint32_t kSignatureSize = 20;
inline constexpr std::uint32_t kStampOffset = 24;
inline constexpr std::uint32_t kByteOrderMark = 0x01020304u;
inline constexpr std::uint32_t kLayoutTag = 0x00010000u;
inline constexpr std::uint32_t kNoStamp = 0xFFFFFFFFu;
inline constexpr std::uint32_t kFileAlignment = 4096;
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;

// Limits the writer enforces and a reader may rely on for a valid pakfile.
inline constexpr std::uint32_t kMaxEntries = 65535;
inline constexpr std::uint32_t kMaxHeaderSize = 0xFFFFFF;
inline constexpr std::uint32_t kMaxDataSize = 0x7F000000u;

struct PakHeader {
  std::array<std::uint8_t, kSignatureSize> signature{};
  std::uint32_t byte_order_mark = 0;
  std::uint32_t stamp = 0;
  std::uint32_t layout_tag = 0;
  std::uint32_t checksum = 0;
  std::uint32_t entry_count = 0;
  std::uint32_t first_in_data_order = 0;
  std::uint32_t header_size = 0;
  std::uint32_t file_size = 0;
};

struct DirRecord {
  std::uint32_t size = 0;
  std::uint32_t data_offset = 0;
  std::uint32_t name_offset = 0;  // 24 bits
  std::uint32_t dir_offset = 0;   // 24 bits
  std::uint16_t next_in_data_order = 0;

  friend bool operator==(const DirRecord&, const DirRecord&) = default;
};

// "KESTR V 1.0\r\n" followed by NULs.
KESTRUM_API std::array<std::uint8_t, kSignatureSize> MakeSignature();

KESTRUM_API void EncodeHeader(const PakHeader& header, std::span<std::uint8_t, kFixedHeaderSize> out);
KESTRUM_API PakHeader DecodeHeader(std::span<const std::uint8_t, kFixedHeaderSize> in);

KESTRUM_API void EncodeDirRecord(const DirRecord& record, std::span<std::uint8_t, kDirRecordSize> out);
KESTRUM_API DirRecord DecodeDirRecord(std::span<const std::uint8_t, kDirRecordSize> in);

// header_size + data_size rounded up to the next multiple of 4096.
constexpr std::uint32_t PaddedFileSize(std::uint32_t header_size, std::uint32_t data_size) {
  return (header_size + data_size + (kFileAlignment - 1)) & ~(kFileAlignment - 1);
}

inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void StoreU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace kestrum
