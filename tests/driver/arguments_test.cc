#include <gtest/gtest.h>

#include "driver/driver.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::RunTool;

const std::string kBanner = "\nKestrum V1.0\n------------------------------\n\n";
const std::string kUsage =
    "Usage:\n"
    "Create: Kestrum locale -c cmdfilename.txt [pakfilename]\n"
    "        Default pakfilename is 'cmdfilename.pak'\n"
    "Create: Kestrum locale -a listfilename.txt [pakfilename]\n"
    "        Default pakfilename is 'listfilename.pak'\n"
    "List  : Kestrum locale -l packfilename \n"
    "        List is sorted by file data order\n"
    "List  : Kestrum locale -L packfilename \n"
    "        List is sorted by filename hash values\n"
    "Unpack: Kestrum locale -x packfilename [destdir]\n"
    "        Default destdir is the current working directory\n\n";

TEST(Arguments, UsageForTooFewArgumentsOrAnUnknownSwitch) {
  testing::TempDir dir;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"de", "-x"}, {"de", "-A", "list.txt"}, {"deu", "-a "}, {"xx", "-aa", "f"}, {"de", "", "f"}}) {
    const auto run = RunTool(dir.path(), args);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, kBanner + kUsage);
    EXPECT_EQ(run.err, "");
  }
}

TEST(Arguments, LocaleMustBeTwoBytesAndIsCheckedBeforeTheCommand) {
  testing::TempDir dir;
  auto run = RunTool(dir.path(), {"deu", "-a", "list.txt"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, kBanner + "Invalid locale 'deu' specified!\n");
  run = RunTool(dir.path(), {"", "-c", "x"});
  EXPECT_EQ(run.out, kBanner + "Invalid locale '' specified!\n");
}

TEST(Arguments, CreateFromCommandFileIsNotSupported) {
  testing::TempDir dir;
  const auto run = RunTool(dir.path(), {"fr", "-c", "anything", "more"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, kBanner + "Sorry, command not supported yet!\n");
}

TEST(Arguments, MissingListFileIsABadListfile) {
  testing::TempDir dir;
  const auto run = RunTool(dir.path(), {"--", "-a", "nothere.txt"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, kBanner + "Bad listfile 'nothere.txt'\n");
  const auto on_dir = RunTool(dir.path(), {"--", "-a", "."});
  EXPECT_EQ(on_dir.out, kBanner + "Bad listfile '.'\n");
}

TEST(Arguments, ReplaceExtensionOnlyTouchesTheLastComponent) {
  auto replaced = [](std::string s) {
    ReplaceExtension(s, ".pak");
    return s;
  };
  EXPECT_EQ(replaced("lists\\game.txt"), "lists\\game.pak");
  EXPECT_EQ(replaced("a.b\\list"), "a.b\\list");
  EXPECT_EQ(replaced("dir.old/files"), "dir.old/files");
  EXPECT_EQ(replaced("c:.x"), "c:.pak");
  EXPECT_EQ(replaced("c.x:y"), "c.x:y");
  EXPECT_EQ(replaced("files.tar.txt"), "files.tar.pak");
  EXPECT_EQ(replaced("noext"), "noext");
}

TEST(Arguments, DefaultPakfileNameNeverOverwritesTheList) {
  EXPECT_EQ(DefaultPakfileName("files.txt"), "files.pak");
  EXPECT_EQ(DefaultPakfileName("lists/files.txt"), "lists/files.pak");
  EXPECT_EQ(DefaultPakfileName("files"), "files.pak");
  EXPECT_EQ(DefaultPakfileName("dir.old/files"), "dir.old/files.pak");
  EXPECT_EQ(DefaultPakfileName("files.pak"), "files.pak.pak");
  EXPECT_EQ(DefaultPakfileName(".hidden"), ".pak");
}

}  // namespace
}  // namespace kestrum
