#include "format/mask.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace kestrum {
namespace {

TEST(MaskData, EqualsByteWiseXorAtEveryAlignmentAndLength) {
  // Every head length before a 64-byte boundary, and lengths that end in
  // the head, in the first 64-byte piece, after several, or just past one.
  std::vector<std::size_t> counts(71);
  std::iota(counts.begin(), counts.end(), std::size_t{0});
  counts.insert(counts.end(), {127, 128, 129, 191, 192, 193, 255, 256, 257, 300});
  std::vector<std::uint8_t> buffer(400);
  for (std::size_t start = 0; start < 64; ++start) {
    for (const std::size_t count : counts) {
      std::iota(buffer.begin(), buffer.end(), std::uint8_t{1});
      MaskData(std::span(buffer).subspan(start, count));
      for (std::size_t i = 0; i < buffer.size(); ++i) {
        const auto original = static_cast<std::uint8_t>(i + 1);
        const bool inside = i >= start && i < start + count;
        ASSERT_EQ(buffer[i], inside ? original ^ 0x5A : original)
            << "start " << start << " count " << count << " byte " << i;
      }
    }
  }
}

TEST(MaskData, TwiceRestoresTheBlock) {
  std::vector<std::uint8_t> block(1000);
  std::iota(block.begin(), block.end(), std::uint8_t{0});
  const auto original = block;
  MaskData(std::span(block).subspan(3));
  EXPECT_NE(block, original);
  MaskData(std::span(block).subspan(3));
  EXPECT_EQ(block, original);
}

}  // namespace
}  // namespace kestrum
