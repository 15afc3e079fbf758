// The platform-neutral part of OutputTree: splitting paths, and the bounded
// set of directories kept open, each under its key (its path below the
// destination). The system calls are in output_tree_<platform>.cc.
#include "io/output_tree.h"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "io/output_tree_platform.h"

namespace kestrum {

using output_tree::Handle;
using output_tree::kNoHandle;

namespace {

// The first separator at or after `from`, or npos.
std::size_t FindSeparator(std::string_view path, std::size_t from, std::string_view separators) {
  return separators.size() == 1 ? path.find(separators[0], from) : path.find_first_of(separators, from);
}

// The last separator, or npos.
std::size_t FindLastSeparator(std::string_view path, std::string_view separators) {
  return separators.size() == 1 ? path.rfind(separators[0]) : path.find_last_of(separators);
}

struct KeyHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct Level {
  std::string key;  // "" for the destination itself
  Handle handle = kNoHandle;
  bool fresh = false;      // created by this run: its entries are ours
  std::uint64_t used = 0;  // when it was last asked for
};

}  // namespace

struct OutputTree::State {
  State(std::string dest, std::size_t open_directories)
      : destination(std::move(dest)),
        capacity(open_directories == 0 ? output_tree::DirectoryCapacity()
                                       : std::max<std::size_t>(open_directories, 2)) {
    levels.reserve(capacity);
  }
  ~State() {
    for (const Level& level : levels) output_tree::CloseDirectory(level.handle);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // Makes slot 0 the open destination; false when it cannot be opened.
  bool OpenDestination() {
    if (!levels.empty()) return true;
    Handle handle = kNoHandle;
    bool fresh = false;
    if (output_tree::OpenRoot(destination, root, handle, fresh) != OutputStatus::kOk) return false;
    levels.push_back({std::string(), handle, fresh, ++clock});
    return true;
  }

  // Keeps an opened level under its key, closing the one asked for least
  // recently when the set is full (never the destination). A walk needs a
  // level's handle only until the next level is open, so even the parent
  // just walked through may go.
  std::uint32_t Keep(std::string_view level_key, Handle handle, bool fresh) {
    std::uint32_t slot = 0;
    if (levels.size() < capacity) {
      slot = static_cast<std::uint32_t>(levels.size());
      levels.emplace_back();
    } else {
      slot = 1;
      for (std::uint32_t i = 2; i < levels.size(); ++i) {
        if (levels[i].used < levels[slot].used) slot = i;
      }
      output_tree::CloseDirectory(levels[slot].handle);
      index.erase(levels[slot].key);
    }
    levels[slot] = {std::string(level_key), handle, fresh, ++clock};
    index.emplace(levels[slot].key, slot);
    return slot;
  }

  // The slot kept under the directory key `k` (not empty), if any. Files
  // come mostly in runs of one directory: the slot found last is tried
  // before the index. (A slot with a key is in the index under that key.)
  bool FindKept(std::string_view k, std::uint32_t& slot) {
    if (last_found < levels.size() && levels[last_found].key == k) {
      slot = last_found;
      return true;
    }
    const auto it = index.find(k);
    if (it == index.end()) return false;
    slot = last_found = it->second;
    return true;
  }

  // The slot of the directory whose key is in `key`, opening and creating
  // what is missing.
  OutputStatus Find(std::uint32_t& slot) {
    const char join = output_tree::JoinSeparator();
    if (key.empty()) {
      slot = 0;
      return OutputStatus::kOk;
    }
    if (const auto it = index.find(key); it != index.end()) {
      slot = it->second;
      levels[slot].used = ++clock;
      return OutputStatus::kOk;
    }
    // The nearest level above that is open already; the destination at least.
    std::uint32_t parent = 0;
    std::size_t known = 0;  // length of the parent's key
    for (std::size_t at = key.rfind(join); at != std::string::npos && at > 0; at = key.rfind(join, at - 1)) {
      if (const auto it = index.find(std::string_view(key).substr(0, at)); it != index.end()) {
        parent = it->second;
        known = at;
        break;
      }
    }
    levels[parent].used = ++clock;
    std::size_t start = known == 0 ? 0 : known + 1;

    // Several levels that may exist already: in one call where the system
    // allows it. Below a directory this run created, they cannot exist.
    if (!levels[parent].fresh && key.find(join, start) != std::string::npos) {
      name.assign(key, start);
      Handle handle = kNoHandle;
      if (output_tree::OpenExistingBeneath(*root, levels[parent].handle, levels[parent].key, name, handle)) {
        slot = Keep(key, handle, false);
        return OutputStatus::kOk;
      }
    }
    while (start < key.size()) {
      std::size_t end = key.find(join, start);
      if (end == std::string::npos) end = key.size();
      name.assign(key, start, end - start);
      Handle handle = kNoHandle;
      bool fresh = false;
      const OutputStatus status = output_tree::OpenLevel(*root, levels[parent].handle, levels[parent].key, name,
                                                         levels[parent].fresh, handle, fresh);
      if (status != OutputStatus::kOk) return status;
      parent = Keep(std::string_view(key).substr(0, end), handle, fresh);
      if (fresh) made.push_back(parent);
      start = end + 1;
    }
    slot = parent;
    return OutputStatus::kOk;
  }

  std::string destination;
  output_tree::RootPtr root;
  std::size_t capacity;
  std::vector<Level> levels;                                                       // [0]: the destination, once open
  std::unordered_map<std::string, std::uint32_t, KeyHash, std::equal_to<>> index;  // key to slot, below [0]
  std::uint32_t last_found = 0;                                                    // the slot FindKept found last
  std::uint64_t clock = 0;
  std::vector<std::uint32_t> made;  // slots of the levels Place created, since ForgetMade
  std::string key;                  // the directory asked for
  std::string name;                 // one component, NUL-terminated for the system
};

std::uint32_t FoldedNameHash(std::string_view name) {
  std::uint32_t hash = 2166136261u;
  for (const char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) return 0;  // case folding beyond ASCII is the file system's own
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<unsigned char>(byte - 'A' + 'a');
    hash = (hash ^ byte) * 16777619u;
  }
  // FNV alone leaves names that differ in their last byte mostly alike in
  // the low bits; a final mix spreads them.
  hash ^= hash >> 16;
  hash *= 0x85EBCA6Bu;
  hash ^= hash >> 13;
  return hash;
}

void ReserveOutputTreeDescriptors() {
  // The tree's directories, and the files, the pakfile and the streams beside them.
  constexpr std::size_t kSpare = 64;
  ReserveOpenFiles(output_tree::DirectoryCapacity() + kSpare);
}

OutputTree::OutputTree(std::string destination, std::size_t open_directories)
    : state_(std::make_unique<State>(std::move(destination), open_directories)) {}

OutputTree::~OutputTree() = default;

OutputStatus OutputTree::Place(std::string_view relative, OutputPlace& place) {
  State& s = *state_;
  if (!s.OpenDestination()) return OutputStatus::kNoDestination;
  const std::string_view separators = output_tree::Separators();
  const std::size_t last = FindLastSeparator(relative, separators);
  const std::size_t cut = last == std::string_view::npos ? 0 : last + 1;
  const std::string_view name = relative.substr(cut);
  std::uint32_t slot = 0;
  // Mostly the directory is open already under its path as it stands: a
  // key has no empty, "." or ".." component and only the joining separator,
  // so a path equal to one names that very directory.
  if (cut > 1 && s.FindKept(relative.substr(0, cut - 1), slot)) {
    s.levels[slot].used = ++s.clock;
  } else {
    // The directory's key: its components without empty or "." ones.
    s.key.clear();
    std::size_t start = 0;
    while (start < cut) {
      const std::size_t end = FindSeparator(relative, start, separators);  // at most cut - 1
      const std::string_view component = relative.substr(start, end - start);
      start = end + 1;
      if (component.empty() || component == ".") continue;
      if (component == "..") return OutputStatus::kCannotCreate;
      if (!s.key.empty()) s.key.push_back(output_tree::JoinSeparator());
      s.key.append(component);
    }
    const OutputStatus status = s.Find(slot);
    if (status != OutputStatus::kOk) return status;
  }
  if (name.empty() || name == "." || name == "..") return OutputStatus::kCannotCreate;
  place = {s.levels[slot].handle, slot, name};
  return OutputStatus::kOk;
}

bool OutputTree::PlaceKnown(std::string_view relative, OutputPlace& place) {
  State& s = *state_;
  if (s.levels.empty()) return false;
  const std::string_view separators = output_tree::Separators();
  const std::size_t last = FindLastSeparator(relative, separators);
  const std::size_t cut = last == std::string_view::npos ? 0 : last + 1;
  const std::string_view name = relative.substr(cut);
  if (name.empty() || name == "." || name == "..") return false;
  std::uint32_t slot = 0;
  if (cut > 0) {
    // As in Place: a key names exactly the directory whose path it equals.
    if (cut <= 1 || !s.FindKept(relative.substr(0, cut - 1), slot)) return false;
  }
  s.levels[slot].used = ++s.clock;
  place = {s.levels[slot].handle, slot, name};
  return true;
}

bool OutputTree::CanPlaceAhead(std::string_view relative, std::span<const std::uint32_t> file_names) const {
  const State& s = *state_;
  if (s.levels.empty()) return false;
  const std::string_view separators = output_tree::Separators();
  const std::size_t last = FindLastSeparator(relative, separators);
  if (last == std::string_view::npos) return true;
  std::size_t levels = 0;
  for (std::size_t start = 0; start < last;) {
    const std::size_t end = FindSeparator(relative, start, separators);
    const std::string_view component = relative.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") continue;
    const std::uint32_t hash = FoldedNameHash(component);
    if (std::find(file_names.begin(), file_names.end(), hash) != file_names.end()) return false;
    ++levels;
  }
  return s.levels.size() + levels <= s.capacity;
}

std::size_t OutputTree::MadeCount() const { return state_->made.size(); }

void OutputTree::ForgetMade() { state_->made.clear(); }

void OutputTree::RemoveMadeSince(std::size_t mark) {
  State& s = *state_;
  const char join = output_tree::JoinSeparator();
  while (s.made.size() > mark) {
    Level& level = s.levels[s.made.back()];
    s.made.pop_back();
    // Its parent is open still: nothing was closed since it was made.
    const std::size_t cut = level.key.rfind(join);
    const auto parent =
        cut == std::string::npos ? s.index.end() : s.index.find(std::string_view(level.key).substr(0, cut));
    const std::uint32_t parent_slot = parent == s.index.end() ? 0 : parent->second;
    output_tree::CloseDirectory(level.handle);
    s.index.erase(level.key);
    s.name.assign(level.key, cut == std::string::npos ? 0 : cut + 1);
    (void)output_tree::RemoveLevelIn(*s.root, s.levels[parent_slot].handle, s.levels[parent_slot].key, s.name);
    // The slot stays, unnamed and unused, the first to be taken again.
    level = Level{};
  }
}

OutputStatus OutputTree::Create(const OutputPlace& place, File& file) {
  State& s = *state_;
  if (place.slot >= s.levels.size() || s.levels[place.slot].handle != place.directory) {
    return OutputStatus::kCannotCreate;
  }
  s.name.assign(place.name);
  return output_tree::CreateFileIn(*s.root, place.directory, s.levels[place.slot].key, s.name, true, file);
}

OutputStatus OutputTree::CreateNew(const OutputPlace& place, std::string& name, File& file) const {
  const State& s = *state_;
  if (place.slot >= s.levels.size() || s.levels[place.slot].handle != place.directory) {
    return OutputStatus::kCannotCreate;
  }
  name.assign(place.name);
  return output_tree::CreateFileIn(*s.root, place.directory, s.levels[place.slot].key, name, false, file);
}

std::size_t OutputTree::CreatorThreads() { return output_tree::CreatorThreads(); }

bool OutputTree::Remove(const OutputPlace& place) {
  State& s = *state_;
  if (place.slot >= s.levels.size() || s.levels[place.slot].handle != place.directory) return false;
  s.name.assign(place.name);
  return output_tree::RemoveFileIn(*s.root, place.directory, s.levels[place.slot].key, s.name);
}

}  // namespace kestrum
