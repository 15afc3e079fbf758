#include "format/pak_layout.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kestrum {
namespace {

TEST(PakLayout, SignatureIsTheVersionTextThenNuls) {
  const auto sig = MakeSignature();
  EXPECT_EQ(std::memcmp(sig.data(), "KESTR V 1.0\r\n", 13), 0);
  for (std::size_t i = 13; i < sig.size(); ++i) EXPECT_EQ(sig[i], 0) << i;
}

TEST(PakLayout, HeaderFieldsSitAtTheirOffsetsLittleEndian) {
  PakHeader h;
  h.signature = MakeSignature();
  h.byte_order_mark = kByteOrderMark;
  h.stamp = 0xAABBCCDD;
  h.layout_tag = kLayoutTag;
  h.checksum = 0x11223344;
  h.entry_count = 4;
  h.first_in_data_order = 2;
  h.header_size = 158;
  h.file_size = 4096;
  std::array<std::uint8_t, kFixedHeaderSize> bytes{};
  EncodeHeader(h, bytes);
  EXPECT_EQ(bytes[20], 0x04);
  EXPECT_EQ(bytes[23], 0x01);
  EXPECT_EQ(bytes[24], 0xDD);
  EXPECT_EQ(bytes[30], 0x01);  // 0x00010000
  EXPECT_EQ(bytes[32], 0x44);
  EXPECT_EQ(bytes[36], 4);
  EXPECT_EQ(bytes[40], 2);
  EXPECT_EQ(bytes[44], 158);
  EXPECT_EQ(bytes[49], 0x10);  // 4096
  const PakHeader back = DecodeHeader(bytes);
  EXPECT_EQ(back.signature, h.signature);
  EXPECT_EQ(back.stamp, h.stamp);
  EXPECT_EQ(back.checksum, h.checksum);
  EXPECT_EQ(back.file_size, h.file_size);
}

TEST(PakLayout, DirRecordSplitsTheNextIndexOverBytes11And15) {
  const DirRecord r{.size = 0x01020304,
                    .data_offset = 0x0A0B0C0D,
                    .name_offset = 0xABCDEF,
                    .dir_offset = 0x123456,
                    .next_in_data_order = 0xBEEF};
  std::array<std::uint8_t, kDirRecordSize> bytes{};
  EncodeDirRecord(r, bytes);
  const std::array<std::uint8_t, kDirRecordSize> expected{0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A,
                                                          0xEF, 0xCD, 0xAB, 0xBE, 0x56, 0x34, 0x12, 0xEF};
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(DecodeDirRecord(bytes), r);
}

TEST(PakLayout, FileSizeRoundsUpToWholePages) {
  EXPECT_EQ(PaddedFileSize(158, 22), 4096u);
  EXPECT_EQ(PaddedFileSize(4000, 96), 4096u);
  EXPECT_EQ(PaddedFileSize(4000, 97), 8192u);
  EXPECT_EQ(PaddedFileSize(kMaxHeaderSize, kMaxDataSize), 0x80000000u);
}

}  // namespace
}  // namespace kestrum
