#include "commands/extraction.h"

#include <algorithm>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "commands/entry_path.h"
#include "commands/extraction_pipe.h"
#include "commands/extraction_writer.h"
#include "commands/listing.h"
#include "format/pak_path.h"
#include "io/output_tree.h"
#include "reader/pak_reader.h"

namespace kestrum {
namespace {

// Files are read in pieces of this size, at these offsets, whatever the
// batch size; a read that fails loses the same piece as it would in a run
// that writes each piece before reading the next.
constexpr std::uint32_t kChunkSize = 262144;
// Three batches: one being filled, one being written, one spare, so that
// neither side waits for the other while both keep pace. Each holds at most
// this much file data and this much text (printed lines and paths), so peak
// memory stays at a few MiB whatever the pakfile holds.
constexpr std::size_t kBatches = 3;
constexpr std::size_t kBatchBytes = std::size_t{4} * kChunkSize;
constexpr std::size_t kBatchTextBytes = std::size_t{1} << 20;
// Printed text waits for its step in pieces of at most this size: a longer
// line (a name of many MiB) goes out as several note steps.
constexpr std::size_t kTextPiece = std::size_t{64} << 10;
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

  void AddText(std::string_view text) {
    AddPieces(text.size(), false, [&](char* to, std::size_t n) {
      std::copy_n(text.data(), n, to);
      text.remove_prefix(n);
    });
  }

  // A stored name, shown as on a terminal (control bytes as '?').
  void AddName(std::string_view name) {
    AddPieces(name.size(), true, [&](char* to, std::size_t n) {
      std::copy_n(name.data(), n, to);
      name.remove_prefix(n);
    });
  }

  // The same for a part of a name as the pool stores it, back to front.
  void AddStoredName(std::span<const std::uint8_t> stored) {
    AddPieces(stored.size(), true, [&](char* to, std::size_t n) {
      std::reverse_copy(stored.end() - static_cast<std::ptrdiff_t>(n), stored.end(), to);
      stored = stored.first(stored.size() - n);
    });
  }

  // Makes room for `bytes` of file data and a path of `path_bytes`, passing
  // the batch on when it lacks them. False when the writing side has
  // stopped.
  bool Reserve(std::size_t bytes, std::size_t path_bytes = 0) {
    if (batch_ == nullptr) return false;
    const std::size_t text = batch_->text.size() + pending_text_.size() + batch_->paths.size() + path_bytes;
    if (batch_->free_space().size() >= bytes && batch_->steps.size() < kMaxStepsPerBatch && text <= kBatchTextBytes) {
      return true;
    }
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

  // A step that only prints the pending lines.
  void AddNote() {
    if (Reserve(0)) {
      AddStep(StepKind::kNote, {}, 0);
    } else {
      pending_text_.clear();
    }
  }

  // Sends what is left, marked as the end.
  void Finish() {
    if (!pending_text_.empty()) AddNote();
    if (batch_ == nullptr) return;
    batch_->last = true;
    pipe_.Send(batch_);
    batch_ = nullptr;
  }

 private:
  static std::uint32_t Size(const std::string& s) { return static_cast<std::uint32_t>(s.size()); }

  // Appends `size` bytes of text that copy(to, n) delivers n at a time,
  // passing each full piece on as a note.
  template <typename Copy>
  void AddPieces(std::size_t size, bool displayable, Copy copy) {
    while (size > 0) {
      const std::size_t at = pending_text_.size();
      const std::size_t n = std::min(size, kTextPiece - at);
      pending_text_.resize(at + n);
      copy(pending_text_.data() + at, n);
      if (displayable) MakeDisplayable(pending_text_, at);
      size -= n;
      if (pending_text_.size() == kTextPiece) AddNote();
    }
  }

  BatchPipe& pipe_;
  ExtractBatch* batch_;
  std::string pending_text_;
};

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
      filler.AddStep(kind, relative, 0, /*read_failed=*/true);
      return;
    }
    filler.AddStep(kind, relative, k);
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
