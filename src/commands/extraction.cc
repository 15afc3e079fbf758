#include "commands/extraction.h"

#include <algorithm>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "commands/extraction_pipe.h"
#include "commands/extraction_writer.h"
#include "commands/listing.h"
#include "reader/entry_path.h"
#include "reader/pak_reader.h"

namespace kestrum {
namespace {

// Files are read in pieces of this size, at these offsets, whatever the
// batch size; a read that fails loses the same piece as it would in a run
// that writes each piece before reading the next.
constexpr std::uint32_t kChunkSize = 262144;
// Three batches: one being filled, one being written, one spare, so that
// neither side waits for the other while both keep pace. Peak memory stays
// at a few MiB whatever the pakfile holds.
constexpr std::size_t kBatches = 3;
constexpr std::size_t kBatchBytes = std::size_t{4} * kChunkSize;
// Many empty files would otherwise make one batch endless.
constexpr std::size_t kMaxStepsPerBatch = 8192;

// Closes an in-pak file handle on every path.
struct HandleCloser {
  void operator()(PakFileHandle* handle) const { PakFileClose(handle); }
};
using PakFilePtr = std::unique_ptr<PakFileHandle, HandleCloser>;

// The reading side: fills batches and sends them down the pipe.
class BatchFiller {
 public:
  explicit BatchFiller(BatchPipe& pipe) : pipe_(pipe), batch_(pipe.TakeEmpty()) {}

  // False once the writing side has stopped; nothing more is wanted then.
  bool open() const { return batch_ != nullptr; }

  void AddText(std::string_view line) { pending_text_.append(line); }

  // Makes room for `bytes` of file data, passing the batch on when it lacks
  // them. False when the writing side has stopped.
  bool Reserve(std::size_t bytes) {
    if (batch_ == nullptr) return false;
    if (batch_->free_space().size() >= bytes && batch_->steps.size() < kMaxStepsPerBatch) return true;
    pipe_.Send(batch_);
    batch_ = pipe_.TakeEmpty();
    return batch_ != nullptr;
  }

  std::uint8_t* data() { return batch_->free_space().data(); }

  // Adds a step with the pending lines, the path, and `bytes` just placed
  // at data(). Call Reserve first.
  void AddStep(StepKind kind, std::string_view path, std::uint32_t bytes, bool read_failed = false) {
    ExtractStep step{.kind = kind, .read_failed = read_failed};
    step.text_begin = Size(batch_->text);
    batch_->text.append(pending_text_);
    step.text_end = Size(batch_->text);
    pending_text_.clear();
    step.path_begin = Size(batch_->paths);
    if (kind != StepKind::kAppend) batch_->paths.append(path);
    step.path_end = Size(batch_->paths);
    step.data_begin = batch_->data_used;
    batch_->data_used += bytes;
    step.data_end = batch_->data_used;
    batch_->steps.push_back(step);
  }

  // Sends what is left, marked as the end.
  void Finish() {
    if (batch_ == nullptr) return;
    batch_->last = true;
    pipe_.Send(batch_);
    batch_ = nullptr;
  }

 private:
  static std::uint32_t Size(const std::string& s) { return static_cast<std::uint32_t>(s.size()); }

  BatchPipe& pipe_;
  ExtractBatch* batch_;
  std::string pending_text_;
};

// Reads one entry into the batches. `fs_path` is where it goes.
void ReadEntry(const std::string& entry_path, const std::string& fs_path, BatchFiller& filler) {
  const PakFilePtr handle(PakFileOpen(entry_path));
  if (!handle) {
    if (filler.Reserve(0)) filler.AddStep(StepKind::kOpenFailed, fs_path, 0);
    return;
  }
  std::int64_t remaining = PakFileSize(handle.get());
  StepKind kind = StepKind::kCreate;
  do {
    const auto k = static_cast<std::uint32_t>(std::min<std::int64_t>(std::max<std::int64_t>(remaining, 0), kChunkSize));
    if (!filler.Reserve(k)) return;
    if (k > 0 && PakFileRead(handle.get(), filler.data(), k) != static_cast<std::int32_t>(k)) {
      filler.AddStep(kind, fs_path, 0, /*read_failed=*/true);
      return;
    }
    filler.AddStep(kind, fs_path, k);
    kind = StepKind::kAppend;
    remaining -= k;
  } while (remaining > 0);
}

}  // namespace

int ExtractPakfile(const PakHeader& header, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                   std::string_view dest, std::FILE* out) {
  const std::string destination = NormalizeDestination(dest);
  std::fprintf(out, "Extracting to: %s\n", destination.c_str());
  const PathStyle style = HostPathStyle();

  BatchPipe pipe(kBatches, kBatchBytes);
  ExtractionWriter writer(style, out);
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
  std::string path;
  std::string fs_path;
  WalkDataOrder(header, records, [&](std::uint32_t k) {
    if (!filler.open() || !builder.Build(k, path)) return;
    filler.AddText(path);
    filler.AddText("\n");
    if (IsUnsafeEntryPath(path, style)) {
      filler.AddText("  ERROR: Unsafe path, entry skipped!\n");
      if (filler.Reserve(0)) filler.AddStep(StepKind::kNote, {}, 0);
      return;
    }
    OutputPath(destination, path, fs_path, style);
    ReadEntry(path, fs_path, filler);
  });
  filler.Finish();
  if (writing.joinable()) writing.join();
  return exit_code;
}

}  // namespace kestrum
