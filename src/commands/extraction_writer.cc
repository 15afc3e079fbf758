#include "commands/extraction_writer.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace kestrum {
namespace {

constexpr const char* kWriteFailed = "Error while writing output file!\n";
constexpr const char* kReadFailed = "Error while reading input pakfile file!\n";

// Files in a group, at most: enough that handing a group to the second
// thread costs little beside creating its files.
constexpr std::size_t kGroupFiles = 256;

const char* CreateError(OutputStatus status) {
  return status == OutputStatus::kLinkInPath ? "  ERROR: Link in path, entry skipped!\n"
                                             : "  ERROR: Opening extracted file for writing failed!\n";
}

}  // namespace

ExtractionWriter::ExtractionWriter(std::string destination, std::FILE* out)
    : out_(out), tree_(std::move(destination)), group_(tree_, kGroupFiles) {
  pending_.reserve(kGroupFiles);
}

bool ExtractionWriter::Run(const ExtractBatch& batch) {
  for (const ExtractStep& step : batch.steps) {
    // Each entry's file is closed before anything is printed or done for
    // the next one: its close belongs to its writing (and Windows would
    // refuse to replace a path still held open).
    if (step.kind != StepKind::kAppend && !CloseFile()) return false;
    if (group_.shared()) {
      if (step.kind == StepKind::kNote) {
        pending_.push_back({.batch = &batch, .step = &step, .place = {}});
        continue;
      }
      if (step.kind == StepKind::kCreate && step.ends_file) {
        if (!Group(batch, step)) return false;
        continue;
      }
      if (!RunGroup()) return false;
    }
    const std::string_view text = batch.TextOf(step);
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), out_);
    if (!Do(batch, step)) return false;
  }
  // A group never outlives its batch, whose bytes it writes.
  if (!RunGroup()) return false;
  tree_.ForgetMade();
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
        std::fputs(CreateError(status), out_);
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
  if (step.read_failed) std::fputs(kReadFailed, out_);
  return true;
}

bool ExtractionWriter::CloseFile() {
  // A close can be where a delayed write fails (a full disk or quota on a
  // network file system): that is a failed write like any other.
  if (file_.Close()) return true;
  std::fputs(kWriteFailed, out_);
  return false;
}

// Adds the file of a whole-file step to the group. A directory it needs is
// made at once where the tree allows, else once the group is done.
bool ExtractionWriter::Group(const ExtractBatch& batch, const ExtractStep& step) {
  const std::string_view path = batch.PathOf(step);
  Pending pending{.batch = &batch, .step = &step, .place = {}};
  if (!tree_.PlaceKnown(path, pending.place)) {
    if (group_.empty() || !tree_.CanPlaceAhead(path, file_names_)) {
      if (!RunGroup()) return false;
    } else {
      pending.made_mark = tree_.MadeCount();
    }
    pending.status = tree_.Place(path, pending.place);
  }
  if (pending.status == OutputStatus::kOk) {
    group_.Add(pending.place, batch.DataOf(step));
    file_names_.push_back(FoldedNameHash(pending.place.name));
  }
  pending_.push_back(pending);
  return !group_.full() || RunGroup();
}

// Runs the group, then prints what its steps print, in order, replacing
// what stood in the way of its files, and stopping at the first failed
// write: the files after that one that the group created are removed again.
bool ExtractionWriter::RunGroup() {
  if (pending_.empty()) return true;
  const std::span<const CreateGroup::Outcome> outcomes = group_.Run();
  std::size_t file = 0;
  for (std::size_t k = 0; k < pending_.size(); ++k) {
    const Pending& p = pending_[k];
    const std::string_view text = p.batch->TextOf(*p.step);
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), out_);
    if (p.step->kind == StepKind::kNote) continue;
    if (p.status != OutputStatus::kOk) {
      std::fputs(CreateError(p.status), out_);
      continue;
    }
    bool written = true;
    switch (outcomes[file++]) {
      case CreateGroup::Outcome::kDone:
        break;
      case CreateGroup::Outcome::kExists:
        written = Replace(p);
        break;
      case CreateGroup::Outcome::kCannotCreate:
        std::fputs(CreateError(OutputStatus::kCannotCreate), out_);
        continue;
      case CreateGroup::Outcome::kWriteFailed:
      case CreateGroup::Outcome::kNotRun:
        std::fputs(kWriteFailed, out_);
        written = false;
        break;
    }
    if (!written) {
      // The files made after the failed one go again, as if never touched,
      // and so do the directories made for them.
      std::size_t made_mark = kNotAhead;
      for (std::size_t later = k + 1, f = file; later < pending_.size(); ++later) {
        const Pending& undo = pending_[later];
        made_mark = std::min(made_mark, undo.made_mark);
        if (undo.step->kind != StepKind::kCreate || undo.status != OutputStatus::kOk) continue;
        if (outcomes[f++] == CreateGroup::Outcome::kDone) (void)tree_.Remove(undo.place);
      }
      if (made_mark != kNotAhead) tree_.RemoveMadeSince(made_mark);
      ClearGroup();
      return false;
    }
    if (p.step->read_failed) std::fputs(kReadFailed, out_);
  }
  ClearGroup();
  return true;
}

void ExtractionWriter::ClearGroup() {
  pending_.clear();
  file_names_.clear();
  tree_.ForgetMade();
}

// A file of the group that found something at its path: made now, in its
// turn, replacing that. False after a failed write (printed).
bool ExtractionWriter::Replace(const Pending& pending) {
  const OutputStatus status = tree_.Create(pending.place, file_);
  if (status != OutputStatus::kOk) {
    std::fputs(CreateError(status), out_);
    return true;
  }
  if (!WriteFully(file_, pending.batch->DataOf(*pending.step))) {
    std::fputs(kWriteFailed, out_);
    return false;
  }
  return CloseFile();
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
