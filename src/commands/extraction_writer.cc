#include "commands/extraction_writer.h"

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace kestrum {

// Directories this run has created (or tried to), so that each costs one
// call however many entries it holds, in whatever order they come.
// Heterogeneous lookup: a path prefix is looked up without a copy.
struct DirectorySet {
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_set<std::string, Hash, std::equal_to<>> paths;
};

namespace {

// Creates every directory level of `fs_path` before its last separator, one
// level at a time. Failures are not reported here: they show when the file
// itself cannot be created (a level that is no directory at all, such as a
// drive name, does no harm).
void CreateParentDirectories(std::string_view fs_path, char separator, DirectorySet& created, std::string& level) {
  const std::size_t cut = fs_path.rfind(separator);
  if (cut == std::string_view::npos || cut == 0) return;
  // Levels are created top down, so a known parent means known ancestors.
  if (created.paths.find(fs_path.substr(0, cut)) != created.paths.end()) return;
  for (std::size_t at = fs_path.find(separator); at != std::string_view::npos && at <= cut;
       at = fs_path.find(separator, at + 1)) {
    if (at == 0) continue;
    const std::string_view prefix = fs_path.substr(0, at);
    if (created.paths.find(prefix) != created.paths.end()) continue;
    level.assign(prefix);
    CreateDirectoryLevel(level);
    created.paths.insert(level);
  }
}

}  // namespace

ExtractionWriter::ExtractionWriter(PathStyle style, std::FILE* out)
    : separator_(PathSeparator(style)), out_(out), created_(std::make_unique<DirectorySet>()) {}

ExtractionWriter::~ExtractionWriter() = default;

bool ExtractionWriter::Run(const ExtractBatch& batch) {
  for (const ExtractStep& step : batch.steps) {
    const std::string_view text = batch.TextOf(step);
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), out_);
    if (!Do(batch, step)) return false;
  }
  return true;
}

bool ExtractionWriter::Do(const ExtractBatch& batch, const ExtractStep& step) {
  // Each entry's file is closed before anything is done for the next one
  // (Windows would refuse to create a path still held open).
  if (step.kind != StepKind::kAppend) file_.Close();
  switch (step.kind) {
    case StepKind::kNote:
      return true;
    case StepKind::kOpenFailed:
      CreateParentDirectories(batch.PathOf(step), separator_, *created_, level_);
      std::fputs("  ERROR: Pakfile opening file failed!\n", out_);
      return true;
    case StepKind::kCreate:
      CreateParentDirectories(batch.PathOf(step), separator_, *created_, level_);
      path_.assign(batch.PathOf(step));
      file_ = CreateOrTruncate(path_);
      if (!file_) {
        // Nothing of this entry is read or written after this.
        std::fputs("  ERROR: Opening extracted file for writing failed!\n", out_);
        return true;
      }
      return WriteAndReport(batch, step);
    case StepKind::kAppend:
      return !file_ || WriteAndReport(batch, step);
  }
  return true;
}

bool ExtractionWriter::WriteAndReport(const ExtractBatch& batch, const ExtractStep& step) {
  if (!WriteFully(file_, batch.DataOf(step))) {
    std::fputs("Error while writing output file!\n", out_);
    return false;
  }
  if (step.read_failed) std::fputs("Error while reading input pakfile file!\n", out_);
  return true;
}

int WriteExtractedFiles(BatchPipe& pipe, ExtractionWriter& writer) {
  for (;;) {
    ExtractBatch* batch = pipe.Receive();
    const bool ok = writer.Run(*batch);
    const bool last = batch->last;
    pipe.GiveBack(batch);
    if (!ok) {
      pipe.Stop();
      return 1;
    }
    if (last) return 0;
  }
}

}  // namespace kestrum
