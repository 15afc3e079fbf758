// Why an open fails: each reason the runtime reports, and a pakfile built
// under another locale told apart from a damaged one by its checksum alone.
#include <gtest/gtest.h>

#include <filesystem>

#include "reader/pak_registry.h"
#include "reader/reader_fixture.h"

namespace kestrum {
namespace {

using testing::Content;
using testing::MakePakImage;
using testing::ReaderTest;
using testing::TestFile;

class OpenReasonsTest : public ReaderTest {
 protected:
  PakOpenResult Open(const std::string& path, std::uint32_t block_kib = 64) {
    const PakOpenResult result = PakOpenWithReason(path, block_kib, "", 0, false);
    EXPECT_EQ(result.id >= 0, result.error == PakError::kNone);
    return result;
  }
  std::vector<TestFile> files_{{"data/a.txt", Content(10, 1)}, {"data/sub/c.txt", Content(5000, 2)}};
};

TEST_F(OpenReasonsTest, MissingIrregularShortAndMalformedFiles) {
  EXPECT_EQ(Open(dir_ / "missing.pak").error, PakError::kNotFound);
  EXPECT_EQ(Open(dir_ / "missing/dir/x.pak").error, PakError::kNotFound);
  EXPECT_EQ(Open("").error, PakError::kNotFound);
  std::filesystem::create_directory(dir_ / "a-directory");
  EXPECT_EQ(Open(dir_ / "a-directory").error, PakError::kNotAPakfile);
  EXPECT_EQ(Open(WritePak("empty.pak", std::vector<std::uint8_t>{})).error, PakError::kNotAPakfile);
  EXPECT_EQ(Open(WritePak("text.pak", std::vector<std::uint8_t>(100, 'x'))).error, PakError::kNotAPakfile);

  const std::vector<std::uint8_t> image = MakePakImage(files_);
  const std::vector<std::uint8_t> head(image.begin(), image.begin() + 60);  // inside the directory
  EXPECT_EQ(Open(WritePak("cut.pak", head)).error, PakError::kNotAPakfile);
  EXPECT_EQ(Open(WritePak("good.pak", image), 1).error, PakError::kInvalidArgument);
  EXPECT_EQ(PakRegistry().size(), 0u);  // nothing stays behind
  EXPECT_EQ(Open(dir_ / "good.pak").error, PakError::kNone);
}

TEST_F(OpenReasonsTest, AnotherLocaleIsNamedAndDamageIsNot) {
  const std::string fr = WritePak("fr.pak", files_, LocaleKeyFromText("fr"));
  // Under no key, and under another one.
  PakOpenResult result = Open(fr);
  EXPECT_EQ(result.error, PakError::kWrongLocale);
  EXPECT_TRUE(result.built_under.enabled);
  EXPECT_EQ(result.built_under.bytes, (std::array<std::uint8_t, 2>{'f', 'r'}));
  SetLocaleKey("de");
  EXPECT_EQ(Open(fr).built_under.bytes, (std::array<std::uint8_t, 2>{'f', 'r'}));
  // A key of any two bytes is found as well.
  const std::string odd = WritePak("odd.pak", files_, LocaleKey{.enabled = true, .bytes = {0x07, 0xE9}});
  result = Open(odd);
  EXPECT_EQ(result.error, PakError::kWrongLocale);
  EXPECT_EQ(result.built_under.bytes, (std::array<std::uint8_t, 2>{0x07, 0xE9}));

  // One changed byte in the pool, in the directory, or of the checksum:
  // no key explains it.
  std::vector<std::uint8_t> image = MakePakImage(files_, LocaleKeyFromText("fr"));
  for (std::size_t at : {std::size_t{33}, std::size_t{60}, std::size_t{kFixedHeaderSize + 2 * kDirRecordSize + 3}}) {
    std::vector<std::uint8_t> damaged = image;
    damaged[at] ^= 0x10;
    EXPECT_EQ(Open(WritePak("damaged.pak", damaged)).error, PakError::kNotAPakfile) << at;
  }
  SetLocaleKey("fr");
  EXPECT_EQ(Open(fr).error, PakError::kNone);
}

TEST_F(OpenReasonsTest, ClosingByIdFindsThePakfileWhereverItStands) {
  const std::string a = WritePak("a.pak", files_);
  const std::int32_t first = Open(a).id;
  const std::int32_t second = Open(a).id;
  const std::int32_t third = Open(a).id;
  EXPECT_TRUE(PakCloseById(second));
  EXPECT_FALSE(PakCloseById(second));
  EXPECT_FALSE(PakCloseById(-1));
  ASSERT_EQ(PakRegistry().size(), 2u);
  EXPECT_EQ(PakRegistry()[0]->id, first);
  EXPECT_EQ(PakRegistry()[1]->id, third);
}

}  // namespace
}  // namespace kestrum
