// The local cache copy's whole life: written through to a temporary file
// while reading, finished, stamped and renamed into place at close, reused
// with the same stamp, recreated with another, removed when it cannot be
// completed; and what it must never do: be used when it is not whole, write
// over the pakfile, or mix two writers' bytes.
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
using testing::SameBytes;
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

class CacheCopyTest : public testing::BackendReaderTest {
 protected:
  void SetUp() override {
    BackendReaderTest::SetUp();
    if (IsSkipped()) return;
    source_ = WritePak("Game.pak", Files());
    copy_ = dir_ / "Cache.pak";
  }
  StreamMode Mode() const { return PakRegistry().back()->stream.mode; }
  void ExpectAllFilesRead() {
    for (const TestFile& file : Files()) EXPECT_TRUE(SameBytes(ReadWhole(file.path), file.data)) << file.path;
  }
  // Hidden files in the scratch directory: a copy's temporary file.
  std::vector<std::string> HiddenFiles() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      if (entry.path().filename().string().starts_with(".")) found.push_back(entry.path().string());
    }
    return found;
  }
  // Makes a complete copy with the stamp and returns its bytes.
  std::string MakeCopy(std::uint32_t stamp) {
    EXPECT_GE(PakOpen(source_, 16, copy_, stamp, true), 0);
    PakCloseAll();
    return ReadFileBytes(copy_);
  }

  std::string source_, copy_;
};

TEST_P(CacheCopyTest, ACopyIsWrittenStampedAtCloseAndReadInsteadOfTheSource) {
  ASSERT_GE(PakOpen(source_, 16, copy_, 7, true), 0);
  EXPECT_EQ(Mode(), StreamMode::kWritingCopy);
  // Until it is complete the copy is a hidden file beside the cache path,
  // sized up front.
  EXPECT_FALSE(std::filesystem::exists(copy_));
  const std::vector<std::string> temporary = HiddenFiles();
  ASSERT_EQ(temporary.size(), 1u);
  EXPECT_EQ(std::filesystem::file_size(temporary[0]), std::filesystem::file_size(source_));
  // Read a little from the middle only; closing reads the rest through.
  PakFileHandle* handle = PakFileOpen("small.txt");
  char buf[10];
  EXPECT_EQ(PakFileRead(handle, buf, sizeof buf), 10);
  PakFileClose(handle);
  PakCloseAll();
  const std::string source_bytes = ReadFileBytes(source_);
  EXPECT_TRUE(SameBytes(ReadFileBytes(copy_), Stamped(source_bytes, 7)));
  EXPECT_TRUE(HiddenFiles().empty());

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
  EXPECT_TRUE(SameBytes(ReadFileBytes(copy_), Stamped(source_bytes, 7)));  // left alone
}

TEST_P(CacheCopyTest, AStaleCopyIsRecreatedWithTheNewStamp) {
  ASSERT_GE(PakOpen(source_, 64, copy_, 1, true), 0);
  ExpectAllFilesRead();
  PakCloseAll();
  ASSERT_GE(PakOpen(source_, 64, copy_, 2, true), 0);
  EXPECT_EQ(Mode(), StreamMode::kWritingCopy);
  PakCloseAll();  // nothing read but the header: closing reads everything
  EXPECT_TRUE(SameBytes(ReadFileBytes(copy_), Stamped(ReadFileBytes(source_), 2)));
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
  PakCloseAll();
  // So is one that cannot take its place: a directory stays where it is.
  std::filesystem::create_directory(copy_);
  ASSERT_GE(PakOpen(source_, 64, copy_, 3, true), 0);
  EXPECT_EQ(Mode(), StreamMode::kWritingCopy);
  ExpectAllFilesRead();
  PakCloseAll();
  EXPECT_TRUE(std::filesystem::is_directory(copy_));
  EXPECT_TRUE(HiddenFiles().empty());
}

TEST_P(CacheCopyTest, APakfileLongerThanItsHeaderSaysGivesACopyOfTheSizeItSays) {
  const std::string pakfile = ReadFileBytes(source_);
  testing::WriteFile(source_, pakfile + std::string(5000, 'x'));
  EXPECT_TRUE(SameBytes(MakeCopy(4), Stamped(pakfile, 4)));
  ASSERT_GE(PakOpen(source_, 16, copy_, 4, false), 0);
  EXPECT_EQ(Mode(), StreamMode::kFromCopy);
  ExpectAllFilesRead();
}

TEST_P(CacheCopyTest, ACopyThatCannotBeCompletedLeavesNothingAndTheEarlierCopyUntouched) {
  const std::string earlier = MakeCopy(1);
  std::string bytes = ReadFileBytes(source_);
  bytes.resize(bytes.size() - 5000);  // cut into tail.bin
  testing::WriteFile(source_, bytes);
  ASSERT_GE(PakOpen(source_, 16, copy_, 9, true), 0);
  EXPECT_EQ(Mode(), StreamMode::kWritingCopy);
  EXPECT_EQ(ReadWhole("small.txt"), Files()[1].data);
  PakCloseAll();
  EXPECT_TRUE(SameBytes(ReadFileBytes(copy_), earlier));
  EXPECT_TRUE(HiddenFiles().empty());

  // A block that a request cannot read ends the copy at once (its read and
  // the read again both fail here); the reading goes on from the pakfile.
  std::filesystem::remove(copy_);
  source_ = WritePak("Game.pak", Files());
  ASSERT_GE(PakOpen(source_, 16, copy_, 9, true), 0);
  InjectReadFailuresForTesting(2);
  PakFileHandle* big = PakFileOpen("big.bin");
  std::string got(Files()[0].data.size(), '\0');
  std::size_t have = 0;
  for (int call = 0; call < 10 && have < got.size(); ++call) {
    have += static_cast<std::size_t>(std::max(0, PakFileRead(big, got.data() + have, 1u << 20)));
  }
  PakFileClose(big);
  EXPECT_TRUE(SameBytes(got, Files()[0].data));
  EXPECT_EQ(Mode(), StreamMode::kPlain);
  EXPECT_TRUE(HiddenFiles().empty());
  PakCloseAll();
  EXPECT_FALSE(std::filesystem::exists(copy_));
}

TEST_P(CacheCopyTest, ACopyThatIsNotWholeOrNotSoundIsTakenAsAbsent) {
  const std::string good = MakeCopy(7);
  ASSERT_TRUE(SameBytes(good, Stamped(ReadFileBytes(source_), 7)));
  std::string damaged = good;
  damaged[kFixedHeaderSize + 3] = static_cast<char>(damaged[kFixedHeaderSize + 3] ^ 0x40);  // a directory byte
  const std::vector<std::pair<std::string, std::string>> copies = {
      {"cut by a block", good.substr(0, good.size() - 4096)},
      {"cut to its header", good.substr(0, 4096)},
      {"longer", good + std::string(4096, '\0')},
      {"damaged header", damaged},
  };
  for (const auto& [what, bytes] : copies) {
    testing::WriteFile(copy_, bytes);
    for (const std::uint32_t stamp : {7u, kNoStamp}) {
      ASSERT_GE(PakOpen(source_, 16, copy_, stamp, false), 0) << what;
      EXPECT_EQ(Mode(), StreamMode::kPlain) << what << " stamp " << stamp;
      ExpectAllFilesRead();
      PakCloseAll();
    }
    // Asked for a copy, the open makes a new one in its place.
    ASSERT_GE(PakOpen(source_, 16, copy_, 7, true), 0) << what;
    EXPECT_EQ(Mode(), StreamMode::kWritingCopy) << what;
    PakCloseAll();
    EXPECT_TRUE(SameBytes(ReadFileBytes(copy_), good)) << what;
  }
}

TEST_P(CacheCopyTest, ACachePathThatReachesThePakfileItselfIsIgnored) {
  const std::string source_bytes = ReadFileBytes(source_);
  std::filesystem::create_directory(dir_ / "sub");
  std::vector<std::string> same_file = {source_, dir_ / "sub/../Game.pak"};
  std::error_code error;
  std::filesystem::create_hard_link(source_, dir_ / "hard.pak", error);
  if (!error) same_file.push_back(dir_ / "hard.pak");
  std::filesystem::create_symlink(source_, dir_ / "soft.pak", error);
  if (!error) same_file.push_back(dir_ / "soft.pak");
  for (const std::string& cache : same_file) {
    for (const std::uint32_t stamp : {7u, kNoStamp}) {
      ASSERT_GE(PakOpen(source_, 64, cache, stamp, true), 0) << cache;
      EXPECT_EQ(Mode(), StreamMode::kPlain) << cache;
      ExpectAllFilesRead();
      PakCloseAll();
      EXPECT_TRUE(SameBytes(ReadFileBytes(source_), source_bytes)) << cache;
      EXPECT_TRUE(SameBytes(ReadFileBytes(cache), source_bytes)) << cache;
      EXPECT_TRUE(HiddenFiles().empty());
    }
  }
}

TEST_P(CacheCopyTest, TwoWritersOfOneCachePathLeaveOneWholeCopy) {
  const std::string other = WritePak("Other.pak", {{"other.bin", Content(500000, 9)}, {"note.txt", Content(50, 8)}});
  // Both find no copy and write one; the later writer reads more.
  ASSERT_GE(PakOpen(source_, 16, copy_, 1, true), 0);
  ASSERT_GE(PakOpen(other, 16, copy_, 2, true), 0);
  EXPECT_EQ(Mode(), StreamMode::kWritingCopy);
  EXPECT_EQ(ReadWhole("note.txt"), Content(50, 8));
  EXPECT_EQ(ReadWhole("small.txt"), Files()[1].data);
  EXPECT_TRUE(SameBytes(ReadWhole("other.bin"), Content(500000, 9)));
  PakCloseAll();  // closes Other.pak first, then Game.pak
  const std::string copy_bytes = ReadFileBytes(copy_);
  EXPECT_TRUE(copy_bytes == Stamped(ReadFileBytes(source_), 1) || copy_bytes == Stamped(ReadFileBytes(other), 2));
  EXPECT_TRUE(HiddenFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, CacheCopyTest, ::testing::Values(AsyncBackend::kQueued, AsyncBackend::kImmediate),
                         testing::BackendName);

}  // namespace
}  // namespace kestrum
