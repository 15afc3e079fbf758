// The directory tree that kestrum-mount shows: the stored paths of several
// pakfiles merged into one tree, a pakfile given later shadowing the same
// path in earlier ones, as the reader runtime's lookup does. Plain data, no
// file system calls: built once at mount time, then only read (by any
// number of threads).
//
// Rules, in this order:
// - A stored path is cut at each '\' into names. A path with a name that
//   cannot be a file name here (empty, ".", "..", holding a '/', or longer
//   than 255 bytes) is left out, with a warning.
// - A path stored in several pakfiles is the copy of the last pakfile given;
//   a path stored twice in one pakfile is its last copy in data order (as
//   unpacking leaves it).
// - Every leading part of a path (up to a '\') is a directory.
// - A name that is a directory by one path and a file by another (a file
//   "maps" and a file "maps\level1", in one pakfile or in two) is the
//   directory, whichever pakfile either comes from: the directory holds what
//   the game reads below it, and the file is left out with a warning.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum {

// One entry of a pakfile, in data order.
struct StoredFile {
  std::string path;  // as stored: lower case, '\' between the names
  std::uint32_t size = 0;
  std::uint32_t record = 0;  // its record in the pakfile's directory
};

struct PakContents {
  std::string name;  // the pakfile as given on the command line, for warnings
  std::vector<StoredFile> files;
};

struct MountNode {
  std::uint32_t parent = 0;      // node index; the root is its own parent
  std::uint32_t name_begin = 0;  // the name, in MountTree::names
  std::uint32_t name_length = 0;
  bool directory = false;
  // A directory: its children are MountTree::children[first_child] onwards,
  // child_count of them, sorted by name (bytes, unsigned); subdirectories
  // counts the directories among them.
  std::uint32_t first_child = 0;
  std::uint32_t child_count = 0;
  std::uint32_t subdirectories = 0;
  // A file: the pakfile that provides it (index into the pakfiles given),
  // its record there and its size.
  std::uint32_t source = 0;
  std::uint32_t record = 0;
  std::uint32_t size = 0;
};

struct MountTree {
  std::vector<MountNode> nodes;  // nodes[0] is the root directory
  std::vector<std::uint32_t> children;
  std::string names;  // every node's name, each followed by a NUL
  // Why names were left out: one line each, without a line end, names shown
  // with control bytes as '?'.
  std::vector<std::string> warnings;
};

MountTree BuildMountTree(std::span<const PakContents> paks);

inline std::string_view NodeName(const MountTree& tree, const MountNode& node) {
  return std::string_view(tree.names).substr(node.name_begin, node.name_length);
}

// The child of directory node `directory` called `name`, by bisection.
std::optional<std::uint32_t> FindChild(const MountTree& tree, std::uint32_t directory, std::string_view name);

// Why a stored path cannot be a path on this system ("a '..' component",
// ...), or null when it can.
const char* UnusablePathReason(std::string_view path);

// The text as shown on a terminal: control bytes (below 0x20, and 0x7F)
// become '?'.
std::string Displayable(std::string_view text);

}  // namespace kestrum
