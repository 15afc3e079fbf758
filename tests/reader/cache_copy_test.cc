// The local cache copy's whole life: written through while reading, finished
// and stamped at close, reused with the same stamp, recreated with another,
// abandoned when it cannot be completed.
#include <gtest/gtest.h>

#include <filesystem>

#include "format/mask.h"
#include "io/backend_param.h"
#include "reader/pak_registry.h"
#include "reader/reader_fixture.h"

namespace kestrum {
namespace {

using testing::Content;
using testing::ReaderTest;
using testing::ReadFileBytes;
using testing::ReadWhole;
using testing::TestFile;

std::vector<TestFile> Files() {
  return {{"big.bin", Content(700000, 1)}, {"small.txt", Content(100, 2)}, {"tail.bin", Content(90000, 3)}};
}

// The source's bytes with the stamp field as a cache copy stores it.
std::string Stamped(std::string bytes, std::uint32_t stamp) {
  std::array<std::uint8_t, 4> field{};
  StoreU32(field.data(), stamp);
  MaskData(field);
  std::copy(field.begin(), field.end(), bytes.begin() + kStampOffset);
  return bytes;
}

class CacheCopyTest : public ReaderTest, public ::testing::WithParamInterface<AsyncBackend> {
 protected:
  void SetUp() override {
    ForceImmediateBackendForTesting(GetParam() == AsyncBackend::kImmediate);
    if (GetParam() == AsyncBackend::kQueued && !testing::QueuedBackendAvailable()) GTEST_SKIP();
    source_ = WritePak("Game.pak", Files());
    copy_ = dir_ / "Cache.pak";
  }
  StreamMode Mode() const { return PakRegistry().back()->stream.mode; }
  void ExpectAllFilesRead() {
    for (const TestFile& file : Files()) EXPECT_EQ(ReadWhole(file.path), file.data) << file.path;
  }

  std::string source_, copy_;
};

TEST_P(CacheCopyTest, ACopyIsWrittenStampedAtCloseAndReadInsteadOfTheSource) {
  ASSERT_GE(PakOpen(source_, 16, copy_, 7, true), 0);
  EXPECT_EQ(Mode(), StreamMode::kWritingCopy);
  EXPECT_EQ(std::filesystem::file_size(copy_), std::filesystem::file_size(source_));  // sized up front
  // Read a little from the middle only; closing reads the rest through.
  PakFileHandle* handle = PakFileOpen("small.txt");
  char buf[10];
  EXPECT_EQ(PakFileRead(handle, buf, sizeof buf), 10);
  PakFileClose(handle);
  PakCloseAll();
  const std::string source_bytes = ReadFileBytes(source_);
  EXPECT_EQ(ReadFileBytes(copy_), Stamped(source_bytes, 7));

  // With the same stamp the copy is read, and the source is not needed.
  std::filesystem::rename(source_, dir_ / "moved.pak");
  ASSERT_GE(PakOpen(source_, 16, copy_, 7, true), 0);
  EXPECT_EQ(Mode(), StreamMode::kFromCopy);
  ExpectAllFilesRead();
  PakCloseAll();
  // The all-ones stamp accepts whatever stamp a copy carries.
  ASSERT_GE(PakOpen(source_, 16, copy_, kNoStamp, false), 0);
  EXPECT_EQ(Mode(), StreamMode::kFromCopy);
  PakCloseAll();
  // Another stamp: the copy is passed over, and without a source nothing opens.
  EXPECT_EQ(PakOpen(source_, 16, copy_, 8, true), -1);
  EXPECT_EQ(ReadFileBytes(copy_), Stamped(source_bytes, 7));  // left alone
}

TEST_P(CacheCopyTest, AStaleCopyIsRecreatedWithTheNewStamp) {
  ASSERT_GE(PakOpen(source_, 64, copy_, 1, true), 0);
  ExpectAllFilesRead();
  PakCloseAll();
  ASSERT_GE(PakOpen(source_, 64, copy_, 2, true), 0);
  EXPECT_EQ(Mode(), StreamMode::kWritingCopy);
  PakCloseAll();  // nothing read but the header: closing reads everything
  EXPECT_EQ(ReadFileBytes(copy_), Stamped(ReadFileBytes(source_), 2));
  ASSERT_GE(PakOpen(source_, 64, copy_, 2, false), 0);
  EXPECT_EQ(Mode(), StreamMode::kFromCopy);
  ExpectAllFilesRead();
}

TEST_P(CacheCopyTest, WithoutACopyToReadOrMakeTheSourceIsReadPlainly) {
  ASSERT_GE(PakOpen(source_, 64, copy_, 3, false), 0);
  EXPECT_EQ(Mode(), StreamMode::kPlain);
  EXPECT_FALSE(std::filesystem::exists(copy_));
  PakCloseAll();
  ASSERT_GE(PakOpen(source_, 64, "", 3, true), 0);  // no cache path: no copy
  EXPECT_EQ(Mode(), StreamMode::kPlain);
  PakCloseAll();
  // A copy that cannot be created is dropped silently.
  ASSERT_GE(PakOpen(source_, 64, dir_ / "no/such/dir/copy.pak", 3, true), 0);
  EXPECT_EQ(Mode(), StreamMode::kPlain);
  ExpectAllFilesRead();
}

TEST_P(CacheCopyTest, ACopyOfAPakfileThatEndsEarlyIsNeverStamped) {
  std::string bytes = ReadFileBytes(source_);
  bytes.resize(bytes.size() - 5000);  // cut into tail.bin
  testing::WriteFile(source_, bytes);
  ASSERT_GE(PakOpen(source_, 16, copy_, 9, true), 0);
  EXPECT_EQ(ReadWhole("small.txt"), Files()[1].data);
  PakCloseAll();
  const std::string copy_bytes = ReadFileBytes(copy_);
  ASSERT_EQ(copy_bytes.size(), bytes.size());
  // The copy holds the source's bytes as far as it got; abandoning it
  // cancels a write still in flight, so its end may be missing (zero).
  std::size_t same = 0;
  while (same < bytes.size() && copy_bytes[same] == bytes[same]) ++same;
  EXPECT_GT(same, 0u);
  EXPECT_EQ(copy_bytes.find_first_not_of('\0', same), std::string::npos) << "copy differs at " << same;
  ASSERT_GE(PakOpen(source_, 16, copy_, 9, false), 0);
  EXPECT_EQ(Mode(), StreamMode::kPlain);  // the unstamped copy was passed over
}

INSTANTIATE_TEST_SUITE_P(Backends, CacheCopyTest, ::testing::Values(AsyncBackend::kQueued, AsyncBackend::kImmediate),
                         testing::BackendName);

}  // namespace
}  // namespace kestrum
