#include <gtest/gtest.h>

#include <filesystem>

#include "format/locale_key.h"
#include "io/host_path.h"
#include "support/pak_decoder.h"
#include "support/platform.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::ReadFileBytes;
using testing::RunTool;
using testing::WriteFile;

const std::string kBanner = "\nKestrum V1.0\n------------------------------\n\n";

testing::DecodedPak Decode(const std::string& path, const LocaleKey& key) {
  testing::DecodedPak pak;
  std::string why;
  EXPECT_TRUE(testing::DecodePakFile(path, key, pak, why)) << path << ": " << why;
  return pak;
}

class PackCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "data/a.txt", "0123456789");
    WriteFile(dir_ / "data/b.txt", "");
    WriteFile(dir_ / "data/sub/c.txt", "hello");
    WriteFile(dir_ / "readme", "readme!");
    WriteFile(dir_ / "files.txt", "data\\a.txt\r\ndata/b.txt\r\ndata\\sub\\c.txt\r\nreadme\r\n");
  }
  testing::TempDir dir_;
};

TEST_F(PackCommand, WorkedExamplePrintsExactlyAndWritesTheDefaultPakfile) {
  const auto run = RunTool(dir_.path(), {"--", "-a", "files.txt"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, kBanner +
                         "Checking existance... 1/4          \r"
                         "Compressing header... 1/4        \r"
                         "Total file size = 180 (header=158 + data=22)                 \n"
                         "Packing file... 1/4        \r"
                         "Packing file... 2/4        \r"
                         "Packing file... 3/4        \r"
                         "Packing file... 4/4        \r"
                         "\n\n");
  const std::string bytes = ReadFileBytes(dir_ / "files.pak");
  ASSERT_EQ(bytes.size(), 4096u);
  const auto pak = Decode(dir_ / "files.pak", {});
  EXPECT_EQ(testing::CheckWriterRules(pak), "");
  EXPECT_EQ(pak.header.first_in_data_order, 2u);
  EXPECT_EQ(pak.entries[pak.data_order[0]].data, "0123456789");
  EXPECT_EQ(pak.entries[pak.data_order[3]].data, "readme!");
}

TEST_F(PackCommand, LocaleCodeKeysThePoolInEitherCase) {
  ASSERT_EQ(RunTool(dir_.path(), {"FR", "-a", "files.txt", "out/fr.pak"}).exit_code, 1);  // no such directory
  std::filesystem::create_directory(dir_ / "out");
  const auto run = RunTool(dir_.path(), {"FR", "-a", "files.txt", "out/fr.pak"});
  ASSERT_EQ(run.exit_code, 0) << run.out;
  const std::string bytes = ReadFileBytes(dir_ / "out/fr.pak");
  testing::DecodedPak pak;
  std::string why;
  const std::span<const std::uint8_t> image(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  EXPECT_TRUE(testing::DecodePak(image, LocaleKeyFromText("fr"), pak, why)) << why;
  EXPECT_FALSE(testing::DecodePak(image, LocaleKeyFromText("de"), pak, why));
  EXPECT_FALSE(testing::DecodePak(image, LocaleKey{}, pak, why));
}

TEST_F(PackCommand, WarningsUseTheNormalisedNameAndThePackGoesOn) {
  std::filesystem::create_directory(dir_ / "adir");
  WriteFile(dir_ / "list.txt", "Missing/File.TXT\nadir\n\nreadme\nreadme\n");
  const auto run = RunTool(dir_.path(), {"--", "-a", "list.txt"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, kBanner +
                         "Checking existance... 1/5          \r"
                         "WARNING file doesn't exist: missing\\file.txt\n"
                         "WARNING file doesn't exist: adir\n"
                         "Compressing header... 1/2        \r"
                         "Total file size = 107 (header=93 + data=14)                 \n"
                         "Packing file... 1/2        \r"
                         "Packing file... 2/2        \r"
                         "\n\n");
  const auto pak = Decode(dir_ / "list.pak", {});
  ASSERT_EQ(pak.entries.size(), 2u);  // a path listed twice is stored twice
  EXPECT_EQ(pak.entries[0].record.name_offset, pak.entries[1].record.name_offset);
  EXPECT_NE(pak.entries[0].record.data_offset, pak.entries[1].record.data_offset);
}

TEST_F(PackCommand, FailedBuildLeavesTheEarlierPakfileAlone) {
  WriteFile(dir_ / "files.pak", "an earlier pakfile");
  WriteFile(dir_ / "files.txt", "gone\n");
  const auto run = RunTool(dir_.path(), {"--", "-a", "files.txt"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(ReadFileBytes(dir_ / "files.pak"), "an earlier pakfile");
}

// A small tmpfs stands for a full disk; mounting needs root.
TEST_F(PackCommand, FullDiskIsCaughtBeforeWritingAndKeepsTheEarlierPakfile) {
  const std::string mount_point = dir_ / "small";
  std::filesystem::create_directory(mount_point);
  const auto volume = testing::MountSmallVolume(mount_point, 256);
  if (!volume) GTEST_SKIP() << "needs root to mount a small tmpfs";

  WriteFile(dir_ / "big.bin", std::string(1 << 20, 'b'));
  WriteFile(dir_ / "big.txt", "big.bin\n");
  WriteFile(mount_point + "/out.pak", "earlier");
  const auto run = RunTool(dir_.path(), {"--", "-a", "big.txt", "small/out.pak"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.out.find("Can't resize the output file, possibly no disk space\n\n\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Packing file"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(mount_point + "/out.pak"), "earlier");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mount_point), std::filesystem::directory_iterator()), 1);
}

TEST_F(PackCommand, ListedNamesArePrintedWithControlBytesShownAsQuestionMarks) {
  WriteFile(dir_ / "list.txt", std::string("gone\x1b[2J\tname\x7f\nreadme\n"));
  const auto run = RunTool(dir_.path(), {"--", "-a", "list.txt"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("WARNING file doesn't exist: gone?[2j?name?\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
  if (HostPathStyle() != PathStyle::kPosix) return;  // Windows names cannot hold control bytes
  // A file whose name holds one is packed under its real name.
  WriteFile(dir_ / "tab\tname", "tabbed");
  WriteFile(dir_ / "list.txt", "tab\tname\n");
  ASSERT_EQ(RunTool(dir_.path(), {"--", "-a", "list.txt"}).exit_code, 0);
  const auto pak = Decode(dir_ / "list.pak", {});
  ASSERT_EQ(pak.entries.size(), 1u);
  EXPECT_EQ(pak.entries[0].path, "tab\tname");
}

// A pakfile path that is a symbolic link: the pakfile is written where the
// chain of links ends, whether that exists yet or not, and the links stay.
TEST_F(PackCommand, ASymbolicLinkAsTargetIsFollowedAndKept) {
  std::filesystem::create_directories(dir_ / "links");
  std::filesystem::create_directories(dir_ / "real");
  std::error_code error;
  std::filesystem::create_symlink("links/hop.pak", dir_ / "game.pak", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  std::filesystem::create_symlink("../real/final.pak", dir_ / "links/hop.pak");
  for (int round = 0; round < 2; ++round) {  // dangling at first, then replacing the real file
    const auto run = RunTool(dir_.path(), {"--", "-a", "files.txt", "game.pak"});
    ASSERT_EQ(run.exit_code, 0) << run.out;
    EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "game.pak"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "links/hop.pak"));
    EXPECT_EQ(Decode(dir_ / "real/final.pak", {}).entries.size(), 4u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "real"), std::filesystem::directory_iterator()),
              1);
  }
  std::filesystem::create_symlink("loop.pak", dir_ / "loop.pak");
  const auto loop = RunTool(dir_.path(), {"--", "-a", "files.txt", "loop.pak"});
  EXPECT_EQ(loop.exit_code, 1);
  EXPECT_NE(loop.out.find("Can't create the output file 'loop.pak'\n"), std::string::npos) << loop.out;
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "loop.pak"));
}

// On POSIX a backslash is an ordinary byte of a name: a pakfile named so,
// or by a list named so, lands in the current directory.
TEST_F(PackCommand, BackslashesInPakfileNamesAreOrdinaryBytesOnPosix) {
  if (HostPathStyle() != PathStyle::kPosix) GTEST_SKIP() << "'\\' separates folders here";
  std::filesystem::create_directory(dir_ / "we");
  WriteFile(dir_ / "we\\list.txt", "readme\n");
  ASSERT_EQ(RunTool(dir_.path(), {"--", "-a", "we\\list.txt"}).exit_code, 0);
  ASSERT_EQ(RunTool(dir_.path(), {"--", "-a", "files.txt", "we\\ird.pak"}).exit_code, 0);
  EXPECT_EQ(Decode(dir_ / "we\\list.pak", {}).entries.size() + Decode(dir_ / "we\\ird.pak", {}).entries.size(), 5u);
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "we"));
}

TEST_F(PackCommand, ListWithoutExtensionGetsPakAppended) {
  WriteFile(dir_ / "mylist", "readme\n");
  ASSERT_EQ(RunTool(dir_.path(), {"--", "-a", "mylist"}).exit_code, 0);
  EXPECT_EQ(ReadFileBytes(dir_ / "mylist"), "readme\n");
  EXPECT_EQ(Decode(dir_ / "mylist.pak", {}).entries.size(), 1u);
}

}  // namespace
}  // namespace kestrum
