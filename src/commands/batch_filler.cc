#include "commands/batch_filler.h"

#include <algorithm>

#include "format/pak_path.h"

namespace kestrum {
namespace {

// Text and paths of one batch, at most.
constexpr std::size_t kBatchTextBytes = std::size_t{1} << 20;
// Pending text, at most: a longer line goes out as several note steps.
constexpr std::size_t kTextPiece = std::size_t{64} << 10;
// Many empty files would otherwise make one batch endless.
constexpr std::size_t kMaxStepsPerBatch = 8192;

std::uint32_t Size(const std::string& s) { return static_cast<std::uint32_t>(s.size()); }

}  // namespace

// Appends `size` bytes of text that copy(to, n) delivers n at a time,
// passing each full piece on as a note.
template <typename Copy>
void BatchFiller::AddPieces(std::size_t size, bool displayable, Copy copy) {
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

void BatchFiller::AddText(std::string_view text) {
  AddPieces(text.size(), false, [&](char* to, std::size_t n) {
    std::copy_n(text.data(), n, to);
    text.remove_prefix(n);
  });
}

void BatchFiller::AddName(std::string_view name) {
  AddPieces(name.size(), true, [&](char* to, std::size_t n) {
    std::copy_n(name.data(), n, to);
    name.remove_prefix(n);
  });
}

void BatchFiller::AddStoredName(std::span<const std::uint8_t> stored) {
  AddPieces(stored.size(), true, [&](char* to, std::size_t n) {
    std::reverse_copy(stored.end() - static_cast<std::ptrdiff_t>(n), stored.end(), to);
    stored = stored.first(stored.size() - n);
  });
}

bool BatchFiller::Reserve(std::size_t bytes, std::size_t path_bytes) {
  if (batch_ == nullptr) return false;
  const std::size_t text = batch_->text.size() + pending_text_.size() + batch_->paths.size() + path_bytes;
  if (batch_->free_space().size() >= bytes && batch_->steps.size() < kMaxStepsPerBatch && text <= kBatchTextBytes) {
    return true;
  }
  pipe_.Send(batch_);
  batch_ = pipe_.TakeEmpty();
  return batch_ != nullptr;
}

void BatchFiller::AddStep(StepKind kind, std::string_view path, std::uint32_t bytes, bool ends_file, bool read_failed) {
  ExtractStep step{.kind = kind, .read_failed = read_failed, .ends_file = ends_file};
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

void BatchFiller::AddNote() {
  if (Reserve(0)) {
    AddStep(StepKind::kNote, {}, 0);
  } else {
    pending_text_.clear();  // nobody is writing any more
  }
}

void BatchFiller::Finish() {
  if (!pending_text_.empty()) AddNote();
  if (batch_ == nullptr) return;
  batch_->last = true;
  pipe_.Send(batch_);
  batch_ = nullptr;
}

}  // namespace kestrum
