#include "builder/pack_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "builder/list_file.h"
#include "builder/scratch_dir_fixture.h"
#include "support/pak_decoder.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::ReadFileBytes;
using testing::WriteFile;

// Runs the writer inside a scratch directory and captures what it prints.
class PackWriter : public testing::InScratchDir {
 protected:
  void TearDown() override {
    ReleaseListBuffers();
    InScratchDir::TearDown();
  }

  int Pack(const std::string& list, const std::string& pak, std::string& printed) {
    WriteFile("list.txt", list);
    EntryTable table;
    if (ReadListFile("list.txt", table) != 0) return -1;
    std::FILE* out = testing::ScratchStream();
    const int code = WritePakfile(pak, table, out);
    printed = testing::DrainAndClose(out);
    return code;
  }
};

TEST_F(PackWriter, AllMissingWarnsPerFileAndCreatesNothing) {
  std::string printed;
  EXPECT_EQ(Pack("one\n\nsub/Two\n", "out.pak", printed), 1);
  EXPECT_EQ(printed,
            "Checking existance... 1/3          \r"
            "WARNING file doesn't exist: one\n"
            "WARNING file doesn't exist: sub\\two\n"
            "There are no files to pack. Empty pakfiles are not allowed!\n");
  EXPECT_FALSE(std::filesystem::exists("out.pak"));
}

TEST_F(PackWriter, EmptyListPrintsOnlyTheRefusal) {
  std::string printed;
  EXPECT_EQ(Pack("", "out.pak", printed), 1);
  EXPECT_EQ(printed, "There are no files to pack. Empty pakfiles are not allowed!\n");
}

TEST_F(PackWriter, MoreThan65535EntriesAreRefusedBeforeAnyCheck) {
  std::string printed;
  EXPECT_EQ(Pack(std::string(65536, '\n'), "out.pak", printed), 1);
  EXPECT_EQ(printed, "Number of files exceeds 64k, please pack less files\n");
  // 65,535 empty lines pass the count and fail only for having no file.
  EXPECT_EQ(Pack(std::string(65535, '\n'), "out.pak", printed), 1);
  EXPECT_NE(printed.find("Checking existance... 65409/65535"), std::string::npos);
  EXPECT_NE(printed.find("There are no files to pack"), std::string::npos);
}

TEST_F(PackWriter, ProgressEvery128EntriesAndOnePackingLinePerFile) {
  std::string list;
  for (int i = 0; i < 129; ++i) {
    WriteFile("f" + std::to_string(i), std::string(static_cast<std::size_t>(i), 'x'));
    list += "f" + std::to_string(i) + "\n";
  }
  std::string printed;
  ASSERT_EQ(Pack(list, "out.pak", printed), 0);
  EXPECT_EQ(printed.find("Checking existance... 1/129          \r"), 0u);
  EXPECT_NE(printed.find("Checking existance... 129/129          \r"), std::string::npos);
  EXPECT_NE(printed.find("Compressing header... 129/129        \r"), std::string::npos);
  EXPECT_NE(printed.find("Packing file... 129/129        \r\n\n"), std::string::npos);
  EXPECT_EQ(printed.substr(printed.size() - 2), "\n\n");
  std::size_t packing_lines = 0;
  for (std::size_t at = 0; (at = printed.find("Packing file...", at)) != std::string::npos; ++at) ++packing_lines;
  EXPECT_EQ(packing_lines, 129u);
}

TEST_F(PackWriter, FailedBuildKeepsAnEarlierPakfileAndLeavesNoTemporaryFile) {
  WriteFile("out.pak", "earlier pakfile");
  std::string printed;
  EXPECT_EQ(Pack("missing\n", "out.pak", printed), 1);
  EXPECT_EQ(ReadFileBytes("out.pak"), "earlier pakfile");
  WriteFile("a", "data");
  std::filesystem::create_directory("taken");
  EXPECT_EQ(Pack("a\n", "taken", printed), 1);
  EXPECT_NE(printed.find("Can't create the output file 'taken'\n"), std::string::npos);
  EXPECT_EQ(Pack("a\n", "no/such/dir/out.pak", printed), 1);
  EXPECT_NE(printed.find("Can't create the output file 'no/such/dir/out.pak'\n"), std::string::npos);
  std::size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(".")) entries += e.path().filename().string()[0] == '.';
  EXPECT_EQ(entries, 0u) << "a temporary file was left behind";
}

TEST_F(PackWriter, OversizedFilesAndTotalsAreCaught) {
  // Files made long by setting their length are sparse (on Linux, and under
  // Wine), so they cost no disk space.
  auto make_sparse = [](const char* name, std::uintmax_t size) {
    WriteFile(name, "");
    std::filesystem::resize_file(name, size);
  };
  make_sparse("huge", std::uintmax_t{1} << 31);
  make_sparse("half1", 0x40000000);
  make_sparse("half2", 0x3F000001);
  WriteFile("small", "s");
  std::string printed;
  EXPECT_EQ(Pack("huge\nsmall\n", "out.pak", printed), 0);
  EXPECT_NE(printed.find("WARNING file size is bigger than 2gb, file will not be added: huge\n"), std::string::npos);
  EXPECT_EQ(Pack("half1\nhalf2\nsmall\n", "big.pak", printed), 1);
  EXPECT_EQ(printed.substr(printed.find("Total data")), "Total data size exceeds 2gb, please pack less files\n");
  EXPECT_FALSE(std::filesystem::exists("big.pak"));
}

// 65,535 empty files whose names fill the name pool: 52 + 65,535 x 16 + the
// pool (hash bytes, name, NUL per file) is exactly the largest header, and
// one name byte more is refused after the total line.
TEST_F(PackWriter, HeaderRegionLimitIsExact) {
  // Wine looks up every new name in the whole directory, case-insensitively.
  if (testing::RunningUnderWine()) GTEST_SKIP() << "creating 65,535 files takes many minutes under Wine";
  constexpr int kFiles = 65535;
  constexpr int kLonger = 203;  // files with 238-byte names; the rest have 237
  std::string list;
  for (int i = 0; i < kFiles; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, static_cast<std::size_t>((i < kLonger ? 238 : 237)) - name.size(), 'n');
    WriteFile(name, "");
    list += name + "\n";
  }
  std::string printed;
  ASSERT_EQ(Pack(list, "max.pak", printed), 0) << printed.substr(printed.rfind('\r') + 1);
  EXPECT_NE(printed.find("Total file size = 16777215 (header=16777215 + data=0)"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size("max.pak"), 16777216u);

  // One name byte more: the first file gets a longer name.
  const std::string first = list.substr(0, list.find('\n'));
  std::filesystem::rename(first, "x" + first);
  list.insert(0, "x");
  EXPECT_EQ(Pack(list, "over.pak", printed), 1);
  EXPECT_EQ(printed.substr(printed.find("Total file size")),
            "Total file size = 16777216 (header=16777216 + data=0)                 \n"
            "Pakfile header exceeds 16Mb, please pack less files\n");
  EXPECT_FALSE(std::filesystem::exists("over.pak"));
}

TEST_F(PackWriter, WrittenPakfileDecodesAndHoldsTheFiles) {
  WriteFile("Dir/Upper.TXT", "upper");  // opened by the line's own case
  WriteFile("dir/plain.bin", "plain");
  WriteFile("empty", "");
  std::string printed;
  ASSERT_EQ(Pack("Dir\\Upper.TXT\n*dir/plain.bin\nempty\nDir/Upper.TXT\n", "out.pak", printed), 0);
  testing::DecodedPak pak;
  std::string why;
  ASSERT_TRUE(testing::DecodePakFile("out.pak", {}, pak, why)) << why;
  EXPECT_EQ(testing::CheckWriterRules(pak), "");
  ASSERT_EQ(pak.data_order.size(), 4u);
  EXPECT_EQ(pak.entries[pak.data_order[0]].path, "dir\\upper.txt");
  EXPECT_EQ(pak.entries[pak.data_order[0]].data, "upper");
  EXPECT_EQ(pak.entries[pak.data_order[1]].data, "\x2a\x36\x3b\x33\x34");  // verbatim, so it reads back XORed
  EXPECT_EQ(pak.entries[pak.data_order[2]].record.size, 0u);
  EXPECT_EQ(pak.entries[pak.data_order[3]].data, "upper");
  EXPECT_NE(printed.find("Total file size = " + std::to_string(pak.header.header_size + 15) +
                         " (header=" + std::to_string(pak.header.header_size) + " + data=15)                 \n"),
            std::string::npos);
  if (const std::optional<unsigned> usual = testing::UsualNewFilePermissions()) {
    EXPECT_EQ(testing::PermissionBits("out.pak"), usual);
  }
}

}  // namespace
}  // namespace kestrum
