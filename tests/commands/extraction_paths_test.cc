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

TEST(Extraction, OnlyDotDotComponentsAreUnsafe) {
  for (const char* bad : {"..", "..\\x", "a\\..\\b", "a\\..", "a/../b", "../x", "a\\b/..", "..\\..\\etc\\passwd"}) {
    EXPECT_TRUE(IsUnsafeEntryPath(bad)) << bad;
  }
  for (const char* fine : {"a", "a\\b", "..a", "a..", "a\\...\\b", ".\\a", "\\a", "", "a\\.\\b", "a..\\..b"}) {
    EXPECT_FALSE(IsUnsafeEntryPath(fine)) << fine;
  }
}

}  // namespace
}  // namespace kestrum
