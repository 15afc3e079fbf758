// The tree kestrum-mount shows: shadowing between pakfiles and inside one,
// directories inferred from paths, names that cannot be paths here, a file
// and a directory of one name, and the command line.
#include "mount/mount_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mount/mount_arguments.h"

namespace kestrum {
namespace {

PakContents Pak(std::string name, std::vector<StoredFile> files) { return {std::move(name), std::move(files)}; }

// The node at a '\'-separated path, or -1.
std::int64_t Find(const MountTree& tree, std::string_view path) {
  std::uint32_t at = 0;
  while (!path.empty()) {
    const std::size_t cut = std::min(path.find('\\'), path.size());
    const std::optional<std::uint32_t> child = FindChild(tree, at, path.substr(0, cut));
    if (!child) return -1;
    at = *child;
    path.remove_prefix(std::min(cut + 1, path.size()));
  }
  return at;
}

// Every path below the root, directories with a trailing '\', in the order
// a depth-first walk of the sorted children gives.
void Walk(const MountTree& tree, std::uint32_t dir, const std::string& prefix, std::vector<std::string>& out) {
  const MountNode& node = tree.nodes[dir];
  for (std::uint32_t k = 0; k < node.child_count; ++k) {
    const std::uint32_t child = tree.children[node.first_child + k];
    const std::string path = prefix + std::string(NodeName(tree, tree.nodes[child]));
    if (tree.nodes[child].directory) {
      out.push_back(path + "\\");
      Walk(tree, child, path + "\\", out);
    } else {
      out.push_back(path);
    }
  }
}

std::vector<std::string> Paths(const MountTree& tree) {
  std::vector<std::string> out;
  Walk(tree, 0, "", out);
  return out;
}

TEST(MountTree, LaterPakfilesAndLaterCopiesShadowAndDirectoriesComeFromPaths) {
  const std::vector<PakContents> paks{Pak("base.pak", {{"maps\\level1\\layout.map", 100, 4},
                                                       {"readme", 5, 0},
                                                       {"maps\\x.txt", 1, 2},
                                                       {"readme", 6, 1}}),  // a path stored twice: the later copy
                                      Pak("patch.pak", {{"maps\\x.txt", 9, 0}, {"sounds\\new.wav", 0, 1}})};
  const MountTree tree = BuildMountTree(paks);
  EXPECT_TRUE(tree.warnings.empty());
  EXPECT_EQ(Paths(tree), (std::vector<std::string>{"maps\\", "maps\\level1\\", "maps\\level1\\layout.map",
                                                   "maps\\x.txt", "readme", "sounds\\", "sounds\\new.wav"}));
  const auto file = [&](std::string_view path) { return tree.nodes[static_cast<std::size_t>(Find(tree, path))]; };
  EXPECT_EQ(std::tuple(file("maps\\x.txt").source, file("maps\\x.txt").record, file("maps\\x.txt").size),
            std::tuple(1u, 0u, 9u));
  EXPECT_EQ(std::tuple(file("readme").source, file("readme").record, file("readme").size), std::tuple(0u, 1u, 6u));
  EXPECT_EQ(std::tuple(file("maps\\level1\\layout.map").source, file("maps\\level1\\layout.map").record),
            std::tuple(0u, 4u));
  EXPECT_EQ(std::tuple(file("sounds\\new.wav").source, file("sounds\\new.wav").size), std::tuple(1u, 0u));
  // Directory link counts come from their subdirectories; parents link back.
  EXPECT_EQ(tree.nodes[0].subdirectories, 2u);
  EXPECT_EQ(file("maps").subdirectories, 1u);
  EXPECT_EQ(file("maps\\level1").subdirectories, 0u);
  EXPECT_EQ(static_cast<std::int64_t>(file("maps\\level1").parent), Find(tree, "maps"));
  EXPECT_EQ(Find(tree, "maps\\level"), -1);
  EXPECT_EQ(Find(tree, "maps\\x.txt\\y"), -1);
  EXPECT_EQ(Find(tree, "Readme"), -1);
}

TEST(MountTree, ChildrenAreSortedAsUnsignedBytesAndFoundByBisection) {
  std::vector<StoredFile> files;
  const std::vector<std::string> names{"\xe9t\xe9", "z", "a b", "a", "ab", "a\x01", "m"};
  for (std::uint32_t i = 0; i < names.size(); ++i) files.push_back({"d\\" + names[i], i, i});
  const MountTree tree = BuildMountTree(std::vector{Pak("p", files)});
  EXPECT_EQ(Paths(tree),
            (std::vector<std::string>{"d\\", "d\\a", "d\\a\x01", "d\\a b", "d\\ab", "d\\m", "d\\z", "d\\\xe9t\xe9"}));
  for (std::uint32_t i = 0; i < names.size(); ++i) {
    const std::int64_t node = Find(tree, "d\\" + names[i]);
    ASSERT_GE(node, 0) << i;
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(node)].record, i);
  }
  for (const char* missing : {"", "0", "a\x02", "aa", "zz", "\xff"})
    EXPECT_EQ(FindChild(tree, 1, missing), std::nullopt);
}

TEST(MountTree, NamesThatCannotBePathsAreLeftOutWithOneWarningEach) {
  const std::string longest(255, 'n');
  const MountTree tree = BuildMountTree(std::vector{Pak("odd\x1b.pak", {{"a\\..\\escape", 1, 0},
                                                                        {"..", 1, 1},
                                                                        {"\\lead", 1, 2},
                                                                        {"trail\\", 1, 3},
                                                                        {"a\\\\b", 1, 4},
                                                                        {".\\x", 1, 5},
                                                                        {"a\\b/c", 1, 6},
                                                                        {longest + "n", 1, 7},
                                                                        {"", 1, 8},
                                                                        {"ok\x07", 1, 9},
                                                                        {"a\\" + longest, 1, 10},
                                                                        {"a\\...", 1, 11}})});
  EXPECT_EQ(Paths(tree), (std::vector<std::string>{"a\\", "a\\...", "a\\" + longest, "ok\x07"}));
  EXPECT_EQ(tree.warnings,
            (std::vector<std::string>{"WARNING odd?.pak: 'a\\..\\escape' has a '..' component, left out",
                                      "WARNING odd?.pak: '..' has a '..' component, left out",
                                      "WARNING odd?.pak: '\\lead' has an empty component, left out",
                                      "WARNING odd?.pak: 'trail\\' has an empty component, left out",
                                      "WARNING odd?.pak: 'a\\\\b' has an empty component, left out",
                                      "WARNING odd?.pak: '.\\x' has a '.' component, left out",
                                      "WARNING odd?.pak: 'a\\b/c' has a '/' in a name, left out",
                                      "WARNING odd?.pak: '" + longest + "n' has a name longer than 255 bytes, left out",
                                      "WARNING odd?.pak: '' has an empty component, left out"}));
  // A left-out copy does not shadow an earlier good one.
  const MountTree shadow =
      BuildMountTree(std::vector{Pak("base", {{"x", 1, 0}}), Pak("patch", {{"x", 2, 0}, {"a\\..\\x", 3, 1}})});
  EXPECT_EQ(tree.nodes.size(), 5u);
  EXPECT_EQ(shadow.nodes[static_cast<std::size_t>(Find(shadow, "x"))].source, 1u);
}

TEST(MountTree, ADirectoryWinsOverAFileOfTheSameNameWhereverEitherComesFrom) {
  const std::vector<std::vector<PakContents>> cases{
      {Pak("base.pak", {{"maps", 3, 0}}), Pak("patch.pak", {{"maps\\new.map", 1, 0}})},
      {Pak("base.pak", {{"maps\\new.map", 1, 0}}), Pak("patch.pak", {{"maps", 3, 0}})},
      {Pak("base.pak", {{"maps", 3, 0}, {"maps\\new.map", 1, 1}})},
  };
  const std::vector<std::string> hidden_in{"base.pak", "patch.pak", "base.pak"};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const MountTree tree = BuildMountTree(cases[i]);
    EXPECT_EQ(Paths(tree), (std::vector<std::string>{"maps\\", "maps\\new.map"})) << i;
    EXPECT_EQ(tree.warnings, std::vector<std::string>{"WARNING " + hidden_in[i] +
                                                      ": file 'maps' left out, a directory of that name wins"})
        << i;
  }
  const MountTree empty = BuildMountTree({});
  EXPECT_EQ(empty.nodes.size(), 1u);
  EXPECT_TRUE(empty.nodes[0].directory);
  EXPECT_EQ(empty.nodes[0].child_count, 0u);
}

TEST(MountArguments, LocaleDashDashIsAPositionalAndOptionsMayStandAnywhere) {
  const auto parse = [](std::vector<const char*> argv, MountArguments& args) {
    argv.insert(argv.begin(), "kestrum-mount");
    return ParseMountArguments(argv, args);
  };
  MountArguments args;
  EXPECT_EQ(parse({"-f", "--", "base.pak", "-o", "allow_other", "patch.pak", "-oro", "/mnt"}, args), "");
  EXPECT_TRUE(args.foreground);
  EXPECT_EQ(args.locale, "--");
  EXPECT_EQ(args.pakfiles, (std::vector<std::string>{"base.pak", "patch.pak"}));
  EXPECT_EQ(args.mountpoint, "/mnt");
  EXPECT_EQ(args.fuse_options, (std::vector<std::string>{"allow_other", "ro"}));

  MountArguments help;
  EXPECT_EQ(parse({"--help"}, help), "");
  EXPECT_TRUE(help.help);
  MountArguments bad;
  EXPECT_EQ(parse({"fr", "a.pak", "/mnt", "-x"}, bad), "unknown option '-x'");
  EXPECT_EQ(parse({"fr", "a.pak", "-o"}, bad), "option -o needs a value");
  EXPECT_EQ(parse({"fr", "/mnt"}, bad), "a locale, at least one pakfile and a mount point are needed");
}

}  // namespace
}  // namespace kestrum
