#include "commands/extraction.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "commands/entry_path.h"
#include "commands/listing.h"
#include "io/file.h"
#include "reader/pak_reader.h"

namespace kestrum {
namespace {

constexpr std::uint32_t kChunkSize = 262144;

enum class EntryOutcome { kDone, kFatal };

// Closes an in-pak file handle on every path.
struct HandleCloser {
  void operator()(PakFileHandle* handle) const { PakFileClose(handle); }
};
using PakFilePtr = std::unique_ptr<PakFileHandle, HandleCloser>;

// Directories this run has created (or tried to), so that each costs one
// call however many entries it holds, in whatever order they come.
// Heterogeneous lookup: a path prefix is looked up without a copy.
struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using DirectorySet = std::unordered_set<std::string, StringHash, std::equal_to<>>;

// Creates every directory level of `fs_path` before its last separator, one
// level at a time. Failures are not reported here: they show when the file
// itself cannot be created (a level that is no directory at all, such as a
// drive name, does no harm).
void CreateParentDirectories(const std::string& fs_path, char separator, DirectorySet& created, std::string& level) {
  const std::size_t cut = fs_path.rfind(separator);
  if (cut == std::string::npos || cut == 0) return;
  // Levels are created top down, so a known parent means known ancestors.
  if (created.find(std::string_view(fs_path.data(), cut)) != created.end()) return;
  for (std::size_t at = fs_path.find(separator); at != std::string::npos && at <= cut;
       at = fs_path.find(separator, at + 1)) {
    if (at == 0) continue;
    const std::string_view prefix(fs_path.data(), at);
    if (created.find(prefix) != created.end()) continue;
    level.assign(prefix);
    CreateDirectoryLevel(level);
    created.insert(level);
  }
}

// Scratch state reused from entry to entry.
struct ExtractState {
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kChunkSize);
  std::string fs_path;
  std::string level;
  DirectorySet created;
  PathStyle style = HostPathStyle();
};

EntryOutcome ExtractEntry(const std::string& entry_path, const std::string& dest, ExtractState& state, std::FILE* out) {
  std::string& fs_path = state.fs_path;
  OutputPath(dest, entry_path, fs_path, state.style);
  CreateParentDirectories(fs_path, PathSeparator(state.style), state.created, state.level);
  std::vector<std::uint8_t>& buffer = state.buffer;

  const PakFilePtr handle(PakFileOpen(entry_path));
  if (!handle) {
    std::fprintf(out, "  ERROR: Pakfile opening file failed!\n");
    return EntryOutcome::kDone;
  }
  const File output = CreateOrTruncate(fs_path);
  if (!output) {
    std::fprintf(out, "  ERROR: Opening extracted file for writing failed!\n");
    return EntryOutcome::kDone;
  }
  std::int64_t remaining = PakFileSize(handle.get());
  while (remaining > 0) {
    const auto k = static_cast<std::uint32_t>(std::min<std::int64_t>(remaining, kChunkSize));
    if (PakFileRead(handle.get(), buffer.data(), k) != static_cast<std::int32_t>(k)) {
      std::fprintf(out, "Error while reading input pakfile file!\n");
      return EntryOutcome::kDone;
    }
    if (!WriteFully(output, std::span(buffer).first(k))) {
      std::fprintf(out, "Error while writing output file!\n");
      return EntryOutcome::kFatal;
    }
    remaining -= k;
  }
  return EntryOutcome::kDone;
}

}  // namespace

int ExtractPakfile(const PakHeader& header, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                   std::string_view dest, std::FILE* out) {
  const std::string destination = NormalizeDestination(dest);
  std::fprintf(out, "Extracting to: %s\n", destination.c_str());
  ExtractState state;
  std::string path;
  int exit_code = 0;
  WalkDataOrder(header, records, [&](std::uint32_t k) {
    if (exit_code != 0) return;
    if (!BuildEntryPath(k, names, records, path)) return;
    std::fprintf(out, "%s\n", path.c_str());
    if (IsUnsafeEntryPath(path, state.style)) {
      std::fprintf(out, "  ERROR: Unsafe path, entry skipped!\n");
      return;
    }
    if (ExtractEntry(path, destination, state, out) == EntryOutcome::kFatal) exit_code = 1;
  });
  return exit_code;
}

}  // namespace kestrum
