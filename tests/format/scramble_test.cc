#include "format/scramble.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace kestrum {
namespace {

std::vector<std::uint8_t> RandomBlock(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> block(n);
  for (auto& b : block) b = static_cast<std::uint8_t>(rng());
  return block;
}

TEST(Scramble, OneByteBlockWithoutKey) {
  std::vector<std::uint8_t> block{0x00};
  ScrambleHeader(block, LocaleKey{});
  EXPECT_EQ(block[0], 0xFF ^ 0x3D);  // lowered by r = 1, wrapping, then XOR 0x3D
}

TEST(Scramble, OneByteBlockTakesKeyByteOneBetweenTheSteps) {
  const LocaleKey key = LocaleKeyFromText("fr");
  std::vector<std::uint8_t> block{0x10};
  ScrambleHeader(block, key);
  EXPECT_EQ(block[0], ((0x10 - 1) ^ 'r') ^ 0x3D);
}

TEST(Scramble, KeyByteAlternatesWithDistanceFromTheEnd) {
  const LocaleKey key = LocaleKeyFromText("fr");
  std::vector<std::uint8_t> block{0x00, 0x00, 0x00};
  ScrambleHeader(block, key);
  EXPECT_EQ(block[0], static_cast<std::uint8_t>((0x100 - 3) ^ 'r' ^ 0x3D));
  EXPECT_EQ(block[1], static_cast<std::uint8_t>((0x100 - 2) ^ 'f' ^ 0x3D));
  EXPECT_EQ(block[2], static_cast<std::uint8_t>((0x100 - 1) ^ 'r' ^ 0x3D));
}

TEST(Scramble, RoundTripsEveryLengthUpTo600WithAndWithoutKey) {
  for (const LocaleKey& key : {LocaleKey{}, LocaleKeyFromText("De")}) {
    for (std::size_t n = 1; n <= 600; ++n) {
      const auto original = RandomBlock(n, static_cast<unsigned>(n));
      auto block = original;
      ScrambleHeader(block, key);
      UnscrambleHeader(block, key);
      ASSERT_EQ(block, original) << "length " << n << " key " << key.enabled;
    }
  }
}

TEST(Scramble, DependsOnWhereTheBlockEnds) {
  const auto original = RandomBlock(10, 1);
  auto whole = original;
  ScrambleHeader(whole, LocaleKey{});
  auto halves = original;
  ScrambleHeader(std::span(halves).first(5), LocaleKey{});
  ScrambleHeader(std::span(halves).subspan(5), LocaleKey{});
  EXPECT_NE(whole, halves);
}

TEST(Scramble, WrongKeyDoesNotUnscramble) {
  const auto original = RandomBlock(64, 2);
  auto block = original;
  ScrambleHeader(block, LocaleKeyFromText("fr"));
  for (const LocaleKey& wrong : {LocaleKeyFromText("de"), LocaleKey{}}) {
    auto attempt = block;
    UnscrambleHeader(attempt, wrong);
    EXPECT_NE(attempt, original);
  }
  UnscrambleHeader(block, LocaleKeyFromText("FR"));
  EXPECT_EQ(block, original);
}

TEST(LocaleKey, TextRules) {
  EXPECT_FALSE(LocaleKeyFromText(nullptr).enabled);
  EXPECT_FALSE(LocaleKeyFromText("").enabled);
  EXPECT_FALSE(LocaleKeyFromText("f").enabled);
  const LocaleKey eng = LocaleKeyFromText("ENG");
  EXPECT_TRUE(eng.enabled);
  EXPECT_EQ(eng.bytes[0], 'e');
  EXPECT_EQ(eng.bytes[1], 'n');
  const LocaleKey odd = LocaleKeyFromText("\xC4Z");  // only A-Z fold
  EXPECT_EQ(odd.bytes[0], 0xC4);
  EXPECT_EQ(odd.bytes[1], 'z');
}

TEST(LocaleKey, SetLocaleKeyIgnoresShortTextAndKeepsTheKey) {
  LocaleKey& current = CurrentLocaleKey();
  const LocaleKey saved = current;
  current = LocaleKey{};
  SetLocaleKey(nullptr);
  SetLocaleKey("x");
  EXPECT_FALSE(current.enabled);
  SetLocaleKey("Fr");
  EXPECT_TRUE(current.enabled);
  SetLocaleKey("");
  EXPECT_TRUE(current.enabled);
  EXPECT_EQ(current.bytes[0], 'f');
  EXPECT_EQ(current.bytes[1], 'r');
  current = saved;
}

}  // namespace
}  // namespace kestrum
