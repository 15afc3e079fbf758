#include "commands/extraction_paths.h"

#include <gtest/gtest.h>

namespace kestrum {
namespace {

TEST(Extraction, DestinationEndsInOneBackslashWhateverTheSeparator) {
  EXPECT_EQ(NormalizeDestination(""), ".\\");
  EXPECT_EQ(NormalizeDestination("."), ".\\");
  EXPECT_EQ(NormalizeDestination("out"), "out\\");
  EXPECT_EQ(NormalizeDestination("out/"), "out\\");
  EXPECT_EQ(NormalizeDestination("out\\"), "out\\");
  EXPECT_EQ(NormalizeDestination("/tmp/a/b"), "\\tmp\\a\\b\\");
}

TEST(Extraction, OnPosixOnlyDotDotComponentsAreUnsafe) {
  for (const char* bad : {"..", "..\\x", "a\\..\\b", "a\\..", "a/../b", "../x", "a\\b/..", "..\\..\\etc\\passwd"}) {
    EXPECT_TRUE(IsUnsafeEntryPath(bad, PathStyle::kPosix)) << bad;
  }
  for (const char* fine : {"a", "a\\b", "..a", "a..", "a\\...\\b", ".\\a", "\\a", "", "a\\.\\b", "a..\\..b", "c:\\x",
                           "a:b", "con", "nul.txt", "dir.\\x", "x "}) {
    EXPECT_FALSE(IsUnsafeEntryPath(fine, PathStyle::kPosix)) << fine;
  }
}

TEST(Extraction, OnWindowsDrivesStreamsDevicesAndTrailingDotsOrBlanksAreUnsafeToo) {
  for (const char* bad :
       {"..", "a\\..\\b", "a/../b",
        // a drive letter, or ':' anywhere
        "c:\\windows\\x", "c:x", "a\\b:stream", ":", "a\\c:",
        // reserved device names, in any case, with an extension, anywhere in the path
        "con", "CON", "nul.txt", "a\\Nul.tar.gz", "aux\\x", "prn", "com1", "LPT9.log", "x\\com5\\y", "nul .txt", "con ",
        // components that end in a dot or a blank
        "dir.\\x", "x.", "x ", "a\\b.\\c", ".", "a\\.\\b", "...\\x"}) {
    EXPECT_TRUE(IsUnsafeEntryPath(bad, PathStyle::kWindows)) << bad;
  }
  for (const char* fine : {"a", "a\\b", "..a", "a\\b.txt", "console", "nul_", "null.txt", "connect\\x", "com0", "com10",
                           "lpt", "x.con", "a.b\\c", " a", ".hidden", "com1x.txt", ""}) {
    EXPECT_FALSE(IsUnsafeEntryPath(fine, PathStyle::kWindows)) << fine;
  }
}

TEST(Extraction, OutputPathUsesTheStylesSeparator) {
  std::string fs_path;
  OutputPath(".\\", "docs\\en/guide.txt", fs_path, PathStyle::kPosix);
  EXPECT_EQ(fs_path, "./docs/en/guide.txt");
  OutputPath("out\\", "docs\\en/guide.txt", fs_path, PathStyle::kWindows);
  EXPECT_EQ(fs_path, "out\\docs\\en\\guide.txt");
}

}  // namespace
}  // namespace kestrum
