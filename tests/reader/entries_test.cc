// Entries in data order, paths looked up without opening them, and reading
// at any position: seeks, reads at an offset, and pakfiles cut short.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "reader/reader_fixture.h"

namespace kestrum {
namespace {

using testing::Content;
using testing::MakePakImage;
using testing::ReaderTest;
using testing::TestFile;

class EntriesTest : public ReaderTest {};

TEST_F(EntriesTest, EntriesComeInDataOrderWithTheirSizesAndRepeats) {
  const std::vector<TestFile> files{{"Zeta/Last.txt", Content(3, 1)},
                                    {"alpha.bin", Content(70000, 2)},
                                    {"zeta/last.txt", Content(3, 1)},
                                    {"m\\n\\o.dat", ""}};
  const std::int32_t id = PakOpen(WritePak("a.pak", files), 64, "", 0, false);
  ASSERT_GE(id, 0);
  // Several threads asking first all see the same order.
  std::vector<std::uint32_t> counts(4, 0);
  std::vector<std::thread> threads;
  for (std::uint32_t& count : counts) threads.emplace_back([&count, id] { (void)PakEntryCount(id, count); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counts, std::vector<std::uint32_t>(4, 4));

  const std::vector<std::pair<std::string, std::uint32_t>> expected{
      {"zeta\\last.txt", 3}, {"alpha.bin", 70000}, {"zeta\\last.txt", 3}, {"m\\n\\o.dat", 0}};
  for (std::uint32_t i = 0; i < expected.size(); ++i) {
    std::string path;
    std::uint32_t size = 1;
    ASSERT_EQ(PakEntryAt(id, i, path, size), PakError::kNone);
    EXPECT_EQ(std::pair(path, size), expected[i]) << i;
  }
  std::string path;
  std::uint32_t size = 0;
  EXPECT_EQ(PakEntryAt(id, 4, path, size), PakError::kInvalidArgument);
  EXPECT_EQ(PakEntryAt(id + 1, 0, path, size), PakError::kInvalidHandle);
  std::uint32_t count = 0;
  EXPECT_EQ(PakEntryCount(-1, count), PakError::kInvalidHandle);
}

TEST_F(EntriesTest, PathSizesFollowShadowingAndOpenNothing) {
  ASSERT_GE(PakOpen(WritePak("base.pak", {{"a.txt", "base"}, {"only.txt", "1"}}), 64, "", 0, false), 0);
  ASSERT_GE(PakOpen(WritePak("patch.pak", {{"A.TXT", "patched"}}), 64, "", 0, false), 0);
  std::uint32_t size = 0;
  EXPECT_EQ(PakPathSize("a.txt", size), PakError::kNone);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(PakPathSize("ONLY.txt", size), PakError::kNone);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(PakPathSize("none.txt", size), PakError::kNotFound);
  EXPECT_EQ(PakPathSize("", size), PakError::kNotFound);
}

TEST_F(EntriesTest, SeeksAndReadsAtOffsetsDeliverTheRightBytesAcrossBlocks) {
  const std::string content = Content(70001, 7);
  ASSERT_GE(PakOpen(WritePak("a.pak", {{"lead.txt", Content(5000, 1)}, {"big.bin", content}}), 4, "", 0, false), 0);
  PakFileHandle* file = PakFileOpen("big.bin");
  ASSERT_NE(file, nullptr);
  std::mt19937 rng(3);
  std::string buffer(9000, '\0');
  for (int step = 0; step < 300; ++step) {
    const std::uint32_t at = rng() % 70100;
    const std::uint32_t count = rng() % 9000;
    const std::size_t expected = at < content.size() ? std::min<std::size_t>(count, content.size() - at) : 0;
    if (step % 2 == 0) {
      ASSERT_EQ(PakFileSeek(file, at, PakSeekFrom::kStart), at);
      const PakReadResult read = PakFileReadChecked(file, buffer.data(), count);
      ASSERT_EQ(read.error, PakError::kNone);
      ASSERT_EQ(read.bytes, expected) << at;
      EXPECT_EQ(file->read_pos, at + expected);
    } else {
      const std::uint32_t before = file->read_pos;
      const PakReadResult read = PakFileReadAt(file, at, buffer.data(), count);
      ASSERT_EQ(read.bytes, expected) << at;
      EXPECT_EQ(file->read_pos, before);  // a read at an offset leaves the position
    }
    ASSERT_EQ(buffer.compare(0, expected, content, std::min<std::size_t>(at, content.size()), expected), 0) << at;
  }
  // Positions from the current one and from the end; out of range stays put.
  ASSERT_EQ(PakFileSeek(file, 10, PakSeekFrom::kStart), 10);
  EXPECT_EQ(PakFileSeek(file, -4, PakSeekFrom::kCurrent), 6);
  EXPECT_EQ(PakFileSeek(file, -1, PakSeekFrom::kEnd), 70000);
  EXPECT_EQ(PakFileSeek(file, -70002, PakSeekFrom::kEnd), -1);
  EXPECT_EQ(PakFileSeek(file, 0x100000000LL, PakSeekFrom::kStart), -1);
  EXPECT_EQ(PakFileSeek(file, INT64_MIN, PakSeekFrom::kCurrent), -1);
  EXPECT_EQ(PakFileSeek(file, INT64_MAX, PakSeekFrom::kEnd), -1);
  EXPECT_EQ(PakFileSeek(file, 0, static_cast<PakSeekFrom>(7)), -1);
  EXPECT_EQ(file->read_pos, 70000u);
  EXPECT_EQ(PakFileSeek(file, 0xFFFFFFFFLL, PakSeekFrom::kStart), 0xFFFFFFFFLL);
  EXPECT_EQ(PakFileRead(file, buffer.data(), 10), 0);
  EXPECT_EQ(PakFileReadAt(file, std::uint64_t{1} << 40, buffer.data(), 10).bytes, 0u);
  PakFileClose(file);
  EXPECT_EQ(PakFileSeek(nullptr, 0, PakSeekFrom::kStart), -1);
  EXPECT_EQ(PakFileReadAt(nullptr, 0, buffer.data(), 1).error, PakError::kInvalidHandle);
}

TEST_F(EntriesTest, APakfileCutShortInsideAFileIsDamagedNotAnIoError) {
  const std::string content = Content(20000, 5);
  std::vector<std::uint8_t> image = MakePakImage({{"a.bin", content}});
  image.resize(12000);  // the header is a few dozen bytes: the cut lies inside the file's bytes
  ASSERT_GE(PakOpen(WritePak("cut.pak", image), 4, "", 0, false), 0);
  PakFileHandle* file = PakFileOpen("a.bin");
  ASSERT_NE(file, nullptr);
  std::string buffer(content.size(), '\0');
  const PakReadResult read = PakFileReadChecked(file, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  EXPECT_EQ(read.error, PakError::kNotAPakfile);
  EXPECT_LE(read.bytes, 12000u);
  EXPECT_EQ(buffer.compare(0, read.bytes, content, 0, read.bytes), 0);
  PakFileClose(file);
}

}  // namespace
}  // namespace kestrum
