#include "mount_tree.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace kestrum {
namespace {

constexpr char kSeparator = '\\';
constexpr std::size_t kNameMax = 255;  // the longest file name Linux takes

struct Winner {
  std::uint32_t source = 0;
  std::uint32_t record = 0;
  std::uint32_t size = 0;
};

std::uint32_t AddNode(MountTree& tree, std::uint32_t parent, std::string_view name, bool directory) {
  MountNode node;
  node.parent = parent;
  node.name_begin = static_cast<std::uint32_t>(tree.names.size());
  node.name_length = static_cast<std::uint32_t>(name.size());
  node.directory = directory;
  tree.names.append(name);
  tree.names.push_back('\0');
  tree.nodes.push_back(node);
  return static_cast<std::uint32_t>(tree.nodes.size() - 1);
}

// Lays out each directory's children side by side in tree.children, sorted
// by name.
void GroupChildren(MountTree& tree) {
  std::vector<MountNode>& nodes = tree.nodes;
  for (std::size_t i = 1; i < nodes.size(); ++i) {
    MountNode& parent = nodes[nodes[i].parent];
    ++parent.child_count;
    if (nodes[i].directory) ++parent.subdirectories;
  }
  std::uint32_t next = 0;
  std::vector<std::uint32_t> fill(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    nodes[i].first_child = next;
    fill[i] = next;
    next += nodes[i].child_count;
  }
  tree.children.resize(next);
  for (std::size_t i = 1; i < nodes.size(); ++i) tree.children[fill[nodes[i].parent]++] = static_cast<std::uint32_t>(i);
  for (const MountNode& dir : nodes) {
    const auto begin = tree.children.begin() + dir.first_child;
    std::sort(begin, begin + dir.child_count, [&tree](std::uint32_t a, std::uint32_t b) {
      return NodeName(tree, tree.nodes[a]) < NodeName(tree, tree.nodes[b]);
    });
  }
}

}  // namespace

const char* UnusablePathReason(std::string_view path) {
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = std::min(path.find(kSeparator, begin), path.size());
    const std::string_view name = path.substr(begin, end - begin);
    if (name.empty()) return "an empty component";
    if (name == ".") return "a '.' component";
    if (name == "..") return "a '..' component";
    if (name.find('/') != std::string_view::npos) return "a '/' in a name";
    if (name.size() > kNameMax) return "a name longer than 255 bytes";
    if (end == path.size()) return nullptr;
    begin = end + 1;
  }
}

std::string Displayable(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = '?';
  }
  return shown;
}

MountTree BuildMountTree(std::span<const PakContents> paks) {
  MountTree tree;
  // The copy that wins for each usable path, in the order in which the paths
  // first appear (pakfile by pakfile, each in data order), so that the same
  // pakfiles always give the same tree and the same warnings; sorting the
  // paths instead cost a third of the time of building the tree. Keys point
  // into `paks`.
  std::size_t stored = 0;
  for (const PakContents& pak : paks) stored += pak.files.size();
  std::unordered_map<std::string_view, std::uint32_t> first_seen;
  first_seen.reserve(stored);
  std::vector<std::pair<std::string_view, Winner>> files;
  files.reserve(stored);
  for (std::size_t source = 0; source < paks.size(); ++source) {
    for (const StoredFile& file : paks[source].files) {
      if (const char* why = UnusablePathReason(file.path)) {
        tree.warnings.push_back("WARNING " + Displayable(paks[source].name) + ": '" + Displayable(file.path) +
                                "' has " + why + ", left out");
        continue;
      }
      const Winner winner{static_cast<std::uint32_t>(source), file.record, file.size};
      const auto [it, added] = first_seen.try_emplace(file.path, static_cast<std::uint32_t>(files.size()));
      if (added) {
        files.emplace_back(file.path, winner);
      } else {
        files[it->second].second = winner;
      }
    }
  }

  AddNode(tree, 0, {}, true);
  // Directory path (without a trailing '\') -> node; the root is "".
  std::unordered_map<std::string_view, std::uint32_t> directories{{std::string_view(), 0}};
  for (const auto& [path, winner] : files) {
    std::uint32_t parent = 0;
    for (std::size_t at = path.find(kSeparator); at != std::string_view::npos; at = path.find(kSeparator, at + 1)) {
      const std::string_view prefix = path.substr(0, at);
      const auto [it, added] = directories.try_emplace(prefix, 0);
      if (added) {
        const std::size_t name_begin = prefix.rfind(kSeparator) + 1;  // npos + 1 == 0
        it->second = AddNode(tree, parent, prefix.substr(name_begin), true);
      }
      parent = it->second;
    }
  }
  for (const auto& [path, winner] : files) {
    if (directories.contains(path)) {
      tree.warnings.push_back("WARNING " + Displayable(paks[winner.source].name) + ": file '" + Displayable(path) +
                              "' left out, a directory of that name wins");
      continue;
    }
    const std::size_t cut = path.rfind(kSeparator);
    const std::uint32_t parent = cut == std::string_view::npos ? 0 : directories.at(path.substr(0, cut));
    const std::uint32_t node = AddNode(tree, parent, path.substr(cut + 1), false);
    tree.nodes[node].source = winner.source;
    tree.nodes[node].record = winner.record;
    tree.nodes[node].size = winner.size;
  }
  GroupChildren(tree);
  return tree;
}

std::optional<std::uint32_t> FindChild(const MountTree& tree, std::uint32_t directory, std::string_view name) {
  const MountNode& dir = tree.nodes[directory];
  const auto begin = tree.children.begin() + dir.first_child;
  const auto end = begin + dir.child_count;
  const auto it = std::lower_bound(begin, end, name, [&tree](std::uint32_t child, std::string_view n) {
    return NodeName(tree, tree.nodes[child]) < n;
  });
  if (it == end || NodeName(tree, tree.nodes[*it]) != name) return std::nullopt;
  return *it;
}

}  // namespace kestrum
