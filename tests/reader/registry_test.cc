// The registry, pak ids, handles that outlive other pakfiles, and the
// directory handed out.
#include <gtest/gtest.h>

#include "format/pak_path.h"
#include "reader/pak_registry.h"
#include "reader/reader_fixture.h"

namespace kestrum {
namespace {

using testing::Content;
using testing::ReaderTest;
using testing::ReadWhole;
using testing::TestFile;

class RegistryTest : public ReaderTest {
 protected:
  void SetUp() override {
    a_ = WritePak("a.pak", {{"one.txt", "first"}, {"shared.txt", "from a"}});
    b_ = WritePak("b.pak", {{"two.txt", "second"}, {"shared.txt", "from b"}});
  }
  std::string a_, b_;
};

TEST_F(RegistryTest, EveryOpenTakesAnIdAlsoAFailedOne) {
  SetNextPakIdForTesting(0);
  EXPECT_EQ(PakOpen(a_, 64, "", 0, false), 0);
  EXPECT_EQ(PakOpen(dir_ / "missing.pak", 64, "", 0, false), -1);
  EXPECT_EQ(PakOpen(a_, 1, "", 0, false), -1);  // too small a buffer
  EXPECT_EQ(PakOpen(b_, 64, "", 0, false), 3);
  EXPECT_EQ(PakRegistry().size(), 2u);  // failed opens leave nothing behind

  SetNextPakIdForTesting(0x7FFFFFFF);
  EXPECT_EQ(PakOpen(a_, 64, "", 0, false), 0x7FFFFFFF);
  EXPECT_EQ(PakOpen(a_, 64, "", 0, false), 0);
}

TEST_F(RegistryTest, BufferSizesRoundToWholeBlocks) {
  for (auto [kib, bytes] : {std::pair{64u, 65536u}, {5u, 4096u}, {6u, 8192u}, {2u, 4096u}}) {
    ASSERT_GE(PakOpen(a_, kib, "", 0, false), 0);
    EXPECT_EQ(PakRegistry().back()->stream.block_size, bytes);
    EXPECT_EQ(PakRegistry().back()->stream.slots[1].buffer.size(), bytes);
    EXPECT_EQ(ReadWhole("one.txt"), "first") << kib;
    PakCloseAll();
  }
  EXPECT_EQ(PakOpen(a_, 0, "", 0, false), -1);
  EXPECT_EQ(PakOpen(a_, 0xFFFFFFFFu, "", 0, false), -1);
}

TEST_F(RegistryTest, ClosingMovesLaterPakfilesDownAndTheirHandlesFollow) {
  const std::int32_t id_a = PakOpen(a_, 64, "", 0, false);
  const std::int32_t id_b = PakOpen(b_, 64, "", 0, false);
  ASSERT_GE(id_a, 0);
  ASSERT_GE(id_b, 0);
  EXPECT_EQ(ReadWhole("shared.txt"), "from b");  // the newer pakfile shadows
  EXPECT_EQ(ReadWhole("one.txt"), "first");      // found in the older one

  PakFileHandle* two = PakFileOpen("two.txt");
  PakFileHandle* one = PakFileOpen("one.txt");
  ASSERT_NE(two, nullptr);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(two->pak_index, 1);

  PakClose(-1);
  PakClose(2);
  EXPECT_EQ(PakRegistry().size(), 2u);
  PakClose(0);
  ASSERT_EQ(PakRegistry().size(), 1u);
  EXPECT_EQ(PakRegistry()[0]->id, id_b);
  char buf[16] = {};
  EXPECT_EQ(PakFileRead(two, buf, sizeof buf), 6);
  EXPECT_EQ(std::string(buf, 6), "second");
  EXPECT_EQ(two->pak_index, 0);

  // The handle of the closed pakfile no longer validates and touches nothing.
  EXPECT_FALSE(PakFileValidate(one));
  EXPECT_EQ(PakFileSize(one), -1);
  buf[0] = '#';
  EXPECT_EQ(PakFileRead(one, buf, sizeof buf), -1);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(ReadWhole("shared.txt"), "from b");
  EXPECT_EQ(ReadWhole("one.txt"), "<missing>");
  PakFileClose(one);  // freed all the same (the sanitizer build checks for leaks)
  PakFileClose(two);
  PakFileClose(nullptr);
  EXPECT_FALSE(PakFileValidate(nullptr));
}

TEST_F(RegistryTest, GetDirectoryCopiesExactlyTheDirectoryAndPool) {
  const std::vector<TestFile> files = {
      {"data/a.txt", Content(10, 1)}, {"data/b.txt", ""}, {"data/sub/c.txt", Content(5, 2)}, {"readme", Content(7, 3)}};
  const std::int32_t id = PakOpen(WritePak("w.pak", files), 64, "", 0, false);
  ASSERT_GE(id, 0);
  PakHeader header;
  header.stamp = 1234;  // fields it does not fill keep what the caller put there
  std::vector<std::uint8_t> names;
  std::vector<DirRecord> records;
  PakGetDirectory(id, header, names, records);
  EXPECT_EQ(header.entry_count, 4u);
  EXPECT_EQ(header.header_size, 158u);
  EXPECT_EQ(header.file_size, 4096u);
  EXPECT_EQ(header.first_in_data_order, 2u);
  EXPECT_EQ(header.stamp, 1234u);
  EXPECT_EQ(names.size(), 42u);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0],
            (DirRecord{.size = 5, .data_offset = 10, .name_offset = 0, .dir_offset = 8, .next_in_data_order = 1}));

  // Unknown and closed ids leave everything as it was.
  PakHeader untouched;
  std::vector<std::uint8_t> no_names = {9};
  std::vector<DirRecord> no_records;
  PakGetDirectory(id + 1000, untouched, no_names, no_records);
  PakClose(0);
  PakGetDirectory(id, untouched, no_names, no_records);
  EXPECT_EQ(untouched.entry_count, 0u);
  EXPECT_EQ(no_names, std::vector<std::uint8_t>{9});
  EXPECT_TRUE(no_records.empty());
}

TEST_F(RegistryTest, PathsAreKeptNormalisedButOpenedAsGiven) {
  const std::string mixed = WritePak("Mixed.PAK", {{"x", "y"}});
  ASSERT_GE(PakOpen(mixed, 64, dir_ / "Cache.Bin", 0x55, false), 0);
  const OpenPakfile& pak = *PakRegistry().back();
  std::string expected = mixed;
  NormalizePakPath(expected);
  EXPECT_EQ(pak.path, expected);
  EXPECT_EQ(pak.cache_path.substr(pak.cache_path.size() - 10), "\\cache.bin");
  EXPECT_EQ(pak.stream.mode, StreamMode::kPlain);  // no copy to read, none asked for
}

}  // namespace
}  // namespace kestrum
