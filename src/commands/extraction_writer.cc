#include "commands/extraction_writer.h"

#include <string_view>
#include <utility>

namespace kestrum {
namespace {

constexpr const char* kWriteFailed = "Error while writing output file!\n";

}  // namespace

ExtractionWriter::ExtractionWriter(std::string destination, std::FILE* out)
    : out_(out), tree_(std::move(destination)) {}

bool ExtractionWriter::Run(const ExtractBatch& batch) {
  for (const ExtractStep& step : batch.steps) {
    // Each entry's file is closed before anything is printed or done for
    // the next one: its close belongs to its writing (and Windows would
    // refuse to replace a path still held open).
    if (step.kind != StepKind::kAppend && !CloseFile()) return false;
    const std::string_view text = batch.TextOf(step);
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), out_);
    if (!Do(batch, step)) return false;
  }
  return !batch.last || CloseFile();
}

bool ExtractionWriter::Do(const ExtractBatch& batch, const ExtractStep& step) {
  OutputPlace place;
  switch (step.kind) {
    case StepKind::kNote:
      return true;
    case StepKind::kOpenFailed:
      // The entry's directories are made all the same; whatever stops that
      // shows with the next entry that needs them.
      (void)tree_.Place(batch.PathOf(step), place);
      std::fputs("  ERROR: Pakfile opening file failed!\n", out_);
      return true;
    case StepKind::kCreate: {
      OutputStatus status = tree_.Place(batch.PathOf(step), place);
      if (status == OutputStatus::kOk) status = tree_.Create(place, file_);
      if (status != OutputStatus::kOk) {
        // Nothing of this entry is read or written after this.
        std::fputs(status == OutputStatus::kLinkInPath ? "  ERROR: Link in path, entry skipped!\n"
                                                       : "  ERROR: Opening extracted file for writing failed!\n",
                   out_);
        return true;
      }
      return WriteAndReport(batch, step);
    }
    case StepKind::kAppend:
      return !file_ || WriteAndReport(batch, step);
  }
  return true;
}

bool ExtractionWriter::WriteAndReport(const ExtractBatch& batch, const ExtractStep& step) {
  if (!WriteFully(file_, batch.DataOf(step))) {
    std::fputs(kWriteFailed, out_);
    return false;
  }
  if (step.read_failed) std::fputs("Error while reading input pakfile file!\n", out_);
  return true;
}

bool ExtractionWriter::CloseFile() {
  // A close can be where a delayed write fails (a full disk or quota on a
  // network file system): that is a failed write like any other.
  if (file_.Close()) return true;
  std::fputs(kWriteFailed, out_);
  return false;
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
