#include "io/atomic_output.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFile;

std::size_t EntriesIn(const std::string& dir) {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()));
}

TEST(AtomicOutput, CommitReplacesTheTargetAndLeavesNoTemporaryFile) {
  TempDir dir;
  WriteFile(dir / "out.pak", "old");
  AtomicOutputFile out;
  ASSERT_TRUE(out.Open(dir / "out.pak"));
  const std::string data = "new contents";
  ASSERT_TRUE(WriteFully(out.file(), {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()}));
  EXPECT_EQ(ReadFileBytes(dir / "out.pak"), "old");  // untouched until commit
  ASSERT_TRUE(out.Commit());
  EXPECT_EQ(ReadFileBytes(dir / "out.pak"), data);
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(AtomicOutput, DiscardKeepsAnEarlierFileIntact) {
  TempDir dir;
  WriteFile(dir / "out.pak", "precious");
  {
    AtomicOutputFile out;
    ASSERT_TRUE(out.Open(dir / "out.pak"));
    ASSERT_TRUE(ReserveLength(out.file(), 8192));
  }  // destroyed without commit
  EXPECT_EQ(ReadFileBytes(dir / "out.pak"), "precious");
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(AtomicOutput, RefusesADirectoryTargetAndAMissingParent) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  AtomicOutputFile out;
  EXPECT_FALSE(out.Open(dir / "sub"));
  EXPECT_FALSE(out.Open(dir / "no/such/dir/out.pak"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
}

TEST(AtomicOutput, RelativeTargetInTheCurrentDirectory) {
  TempDir dir;
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    AtomicOutputFile out;
    ASSERT_TRUE(out.Open("plain.pak"));
    ASSERT_TRUE(out.Commit());
  }
  std::filesystem::current_path(saved);
  EXPECT_TRUE(std::filesystem::exists(dir / "plain.pak"));
}

}  // namespace
}  // namespace kestrum
