#include "format/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace kestrum {
namespace {

std::uint32_t BitwiseCrc(const std::vector<std::uint8_t>& data) {
  std::uint32_t c = kCrcStart;
  for (std::uint8_t b : data) {
    c ^= b;
    for (int i = 0; i < 8; ++i) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  return c;
}

TEST(Crc32, CheckValueOfTheNineDigitsWithoutFinalInversion) {
  const char* digits = "123456789";
  std::uint32_t crc = kCrcStart;
  Crc32Update({reinterpret_cast<const std::uint8_t*>(digits), 9}, crc);
  EXPECT_EQ(crc, 0x340BC6D9u);
  EXPECT_EQ(~crc, 0xCBF43926u);
}

TEST(Crc32, EmptyBlockLeavesRegister) {
  std::uint32_t crc = 0x12345678u;
  Crc32Update({}, crc);
  EXPECT_EQ(crc, 0x12345678u);
}

TEST(Crc32, MatchesBitwiseReferenceAndIsSplittableAnywhere) {
  std::mt19937 rng(7);
  for (std::size_t len : {1u, 3u, 4u, 5u, 7u, 8u, 63u, 64u, 1000u, 4099u}) {
    std::vector<std::uint8_t> data(len);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    std::uint32_t whole = kCrcStart;
    Crc32Update(data, whole);
    EXPECT_EQ(whole, BitwiseCrc(data)) << "length " << len;
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, len / 3, len - 1, len}) {
      std::uint32_t pieces = kCrcStart;
      Crc32Update(std::span(data).first(cut), pieces);
      Crc32Update(std::span(data).subspan(cut), pieces);
      EXPECT_EQ(pieces, whole) << "length " << len << " cut " << cut;
    }
  }
}

}  // namespace
}  // namespace kestrum
