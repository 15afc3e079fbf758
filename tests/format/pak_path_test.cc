#include "format/pak_path.h"

#include <gtest/gtest.h>

namespace kestrum {
namespace {

TEST(PakPath, NormalisationFoldsAsciiAndSlashesOnly) {
  std::string path = "Data/Sub/File.TXT";
  NormalizePakPath(path);
  EXPECT_EQ(path, "data\\sub\\file.txt");
  std::string high = "\xC4\xD6/Z@[`{";
  NormalizePakPath(high);
  EXPECT_EQ(high, "\xC4\xD6\\z@[`{");
}

TEST(PakPath, NameHashValues) {
  EXPECT_EQ(NameHash(""), 0);
  EXPECT_EQ(NameHash("abc"), 30818);
  EXPECT_EQ(NameHash("a~"), NameHash("b_"));
  EXPECT_EQ(NameHash("x.txt"), 45050);
  EXPECT_EQ(NameHash("hrlbx.txt"), 45050);
  // Bytes from 0x80 up count as 128..255, not as negative chars.
  EXPECT_EQ(NameHash("\xFF"), 255);
  EXPECT_EQ(NameHash("data\\a.txt"), 0x74B1);
  EXPECT_EQ(NameHash("data\\sub\\c.txt"), 0x3417);
}

TEST(PakPath, DisplayNameMasksOnlyControlBytes) {
  EXPECT_EQ(DisplayName(std::string("a\nb\r\x1b[2J\x7f\x00z", 10)), "a?b??[2J??");
  // Blanks, backslashes and bytes from 0x80 up are shown as they are.
  EXPECT_EQ(DisplayName("dir\\a b\xC4.txt~"), "dir\\a b\xC4.txt~");
  std::string line = "keep\t";
  MakeDisplayable(line, 4);
  EXPECT_EQ(line, "keep?");
  // Every byte value at every place of a word, among bytes that stay.
  for (const char stays : {' ', '~', '\x80', '\xFF'}) {
    for (int b = 0; b < 256; ++b) {
      for (std::size_t at = 0; at < 19; ++at) {
        std::string text(19, stays);
        text[at] = static_cast<char>(b);
        std::string expected = text;
        expected[at] = DisplayByte(expected[at]);
        MakeDisplayable(text);
        ASSERT_EQ(text, expected) << b << " at " << at;
      }
    }
  }
}

}  // namespace
}  // namespace kestrum
