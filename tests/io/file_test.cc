#include "io/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "support/platform.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::TempDir;
using testing::WriteFile;

TEST(File, RegularOpenRejectsDirectoriesDevicesFifosAndMissingFilesWithoutBlocking) {
  TempDir dir;
  WriteFile(dir / "plain", "abc");
  EXPECT_TRUE(OpenRegularForReading(dir / "plain").valid());
  EXPECT_FALSE(OpenRegularForReading(dir.path()).valid());
  EXPECT_FALSE(OpenRegularForReading(testing::DevicePath()).valid());
  EXPECT_TRUE(OpenForReading(testing::DevicePath()).valid());  // the plain open takes anything
  EXPECT_FALSE(OpenRegularForReading(dir / "missing").valid());
  if (testing::MakeFifo(dir / "fifo")) {
    EXPECT_FALSE(OpenRegularForReading(dir / "fifo").valid());  // would hang if it waited
  }
}

TEST(File, ReadFullyStopsAtTheEndAndReportsTheCount) {
  TempDir dir;
  WriteFile(dir / "f", "hello");
  File f = OpenRegularForReading(dir / "f");
  ASSERT_TRUE(f);
  EXPECT_EQ(FileLength(f), 5u);
  std::uint8_t buf[8] = {};
  EXPECT_EQ(ReadFully(f, buf), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "hello");
  EXPECT_EQ(ReadFully(f, buf), 0u);
}

TEST(File, ReadFullyAtReadsFromTheOffsetOnAndStopsAtTheEnd) {
  TempDir dir;
  std::string bytes(300000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  WriteFile(dir / "f", bytes);
  File f = OpenRegularForReading(dir / "f");
  ASSERT_TRUE(f);
  std::vector<std::uint8_t> buf(1000);
  auto text = [&](std::size_t n) { return std::string(reinterpret_cast<const char*>(buf.data()), n); };
  EXPECT_EQ(ReadFullyAt(f, 123457, buf), 1000u);
  EXPECT_EQ(text(1000), bytes.substr(123457, 1000));
  EXPECT_EQ(ReadFullyAt(f, bytes.size() - 10, buf), 10u);
  EXPECT_EQ(text(10), bytes.substr(bytes.size() - 10));
  EXPECT_EQ(ReadFullyAt(f, bytes.size(), buf), 0u);
  EXPECT_EQ(ReadFullyAt(f, bytes.size() + 4096, buf), 0u);
  EXPECT_EQ(ReadFullyAt(f, 0, std::span(buf).first(0)), 0u);

  // A handle that cannot be read gives an error, not a count.
  File directory = testing::OpenDirectoryHandle(dir.path());
  if (directory) {
    EXPECT_EQ(ReadFullyAt(directory, 0, buf), std::nullopt);
  }
}

TEST(File, ReserveLengthGivesTheExactLength) {
  TempDir dir;
  File f = CreateOrTruncate(dir / "out");
  ASSERT_TRUE(f);
  EXPECT_TRUE(ReserveLength(f, 12288));
  EXPECT_EQ(FileLength(f), 12288u);
  EXPECT_TRUE(ReserveLength(f, 4096));  // shrinking works too
  EXPECT_EQ(FileLength(f), 4096u);
}

// A small tmpfs stands for a nearly full volume in memory; mounting needs root.
TEST(File, ReserveLengthInMemoryCountsTheFreeSpaceAndWhatTheFileHolds) {
  TempDir dir;
  const std::string mount_point = dir / "small";
  std::filesystem::create_directory(mount_point);
  const auto volume = testing::MountSmallVolume(mount_point, 256);
  if (!volume) GTEST_SKIP() << "needs root to mount a small tmpfs";
  File f = CreateOrTruncate(mount_point + "/out");
  ASSERT_TRUE(f);
  const std::vector<std::uint8_t> data(200 * 1024, 7);
  ASSERT_TRUE(WriteFully(f, data));
  // 240 KiB fit: 200 of them are the file's already.
  EXPECT_TRUE(ReserveLength(f, 240 * 1024));
  EXPECT_EQ(FileLength(f), 240u * 1024);
  EXPECT_FALSE(ReserveLength(f, 1024 * 1024));
  EXPECT_EQ(FileLength(f), 240u * 1024);  // refused before anything changed
}

TEST(File, CreateExclusiveRefusesAnExistingPath) {
  TempDir dir;
  WriteFile(dir / "taken", "x");
  EXPECT_FALSE(CreateExclusive(dir / "taken").valid());
  EXPECT_TRUE(CreateExclusive(dir / "free").valid());
}

}  // namespace
}  // namespace kestrum
