#include "commands/extraction.h"

#include <algorithm>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "commands/batch_filler.h"
#include "commands/extraction_pipe.h"
#include "commands/extraction_writer.h"
#include "commands/listing.h"
#include "io/output_tree.h"
#include "reader/entry_path.h"
#include "reader/pak_reader.h"

namespace kestrum {
namespace {

// Files are read in pieces of this size, at these offsets, whatever the
// batch size; a read that fails loses the same piece as it would in a run
// that writes each piece before reading the next.
constexpr std::uint32_t kChunkSize = 262144;
// Three batches: one being filled, one being written, one spare, so that
// neither side waits for the other while both keep pace. Each holds at most
// this much file data (and at most 1 MiB of text, see BatchFiller), so peak
// memory stays at a few MiB whatever the pakfile holds.
constexpr std::size_t kBatches = 3;
constexpr std::size_t kBatchBytes = std::size_t{4} * kChunkSize;

// Closes an in-pak file handle on every path.
struct HandleCloser {
  void operator()(PakFileHandle* handle) const { PakFileClose(handle); }
};
using PakFilePtr = std::unique_ptr<PakFileHandle, HandleCloser>;

// Reads one entry into the batches. `relative` is where it goes below the
// destination.
void ReadEntry(const std::string& entry_path, const std::string& relative, BatchFiller& filler) {
  const PakFilePtr handle(PakFileOpen(entry_path));
  if (!handle) {
    if (filler.Reserve(0, relative.size())) filler.AddStep(StepKind::kOpenFailed, relative, 0);
    return;
  }
  const std::int32_t size = PakFileSize(handle.get());
  if (size < 0) {
    // A record size of 2 GiB or more: no sound pakfile holds one.
    filler.AddText("  ERROR: Bad file size, entry skipped!\n");
    filler.AddNote();
    return;
  }
  std::uint32_t remaining = static_cast<std::uint32_t>(size);
  StepKind kind = StepKind::kCreate;
  do {
    const std::uint32_t k = std::min(remaining, kChunkSize);
    if (!filler.Reserve(k, kind == StepKind::kCreate ? relative.size() : 0)) return;
    if (k > 0 && PakFileRead(handle.get(), filler.data(), k) != static_cast<std::int32_t>(k)) {
      filler.AddStep(kind, relative, 0, /*ends_file=*/true, /*read_failed=*/true);
      return;
    }
    filler.AddStep(kind, relative, k, /*ends_file=*/k == remaining);
    kind = StepKind::kAppend;
    remaining -= k;
  } while (remaining > 0);
}

}  // namespace

int ExtractPakfile(const PakHeader& header, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                   std::string_view dest, std::FILE* out) {
  std::fprintf(out, "Extracting to: %s\n", NormalizeDestination(dest).c_str());
  const PathStyle style = HostPathStyle();
  const std::size_t longest_path = MaxOutputPathLength();

  BatchPipe pipe(kBatches, kBatchBytes);
  // The file system gets the destination as given (on Linux a '\' in it is
  // a plain byte of a name).
  ExtractionWriter writer(std::string(dest.empty() ? std::string_view(".") : dest), out);
  int exit_code = 0;
  std::thread writing;
  try {
    writing = std::thread([&] { exit_code = WriteExtractedFiles(pipe, writer); });
  } catch (const std::system_error&) {
    // No thread to be had: write each batch as soon as it is full.
    pipe.ConsumeOnSend([&](const ExtractBatch& batch) {
      if (writer.Run(batch)) return true;
      exit_code = 1;
      return false;
    });
  }

  BatchFiller filler(pipe);
  EntryPathBuilder builder(names, records);
  StoredPath stored;
  std::string path;
  std::string relative;
  WalkDataOrder(header, records, [&](std::uint32_t k) {
    builder.PrefetchAhead(k);
    if (!filler.open() || !builder.Stored(k, stored)) return;
    if (stored.length() > longest_path) {
      // No file system takes it: printed straight from the pool, never
      // built, and its data is not read.
      filler.AddStoredName(stored.directory);
      if (stored.has_directory) filler.AddText("\\");
      filler.AddStoredName(stored.name);
      filler.AddText("\n  ERROR: Path too long, entry skipped!\n");
      filler.AddNote();
      return;
    }
    builder.Build(k, path);
    filler.AddName(path);
    filler.AddText("\n");
    if (IsUnsafeEntryPath(path, style)) {
      filler.AddText("  ERROR: Unsafe path, entry skipped!\n");
      filler.AddNote();
      return;
    }
    OutputPath({}, path, relative, style);
    ReadEntry(path, relative, filler);
  });
  filler.Finish();
  if (writing.joinable()) writing.join();
  return exit_code;
}

}  // namespace kestrum
