// The reading side of an extraction (see extraction_pipe.h): fills batches
// with printed text, output paths and file data, and sends each down the
// pipe when it is full.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "commands/extraction_pipe.h"

namespace kestrum {

class BatchFiller {
 public:
  explicit BatchFiller(BatchPipe& pipe) : pipe_(pipe), batch_(pipe.TakeEmpty()) {}

  // False once the writing side has stopped; nothing more is wanted then.
  bool open() const { return batch_ != nullptr; }

  // Text to print before the next step. Text, however long (a name of many
  // MiB), goes out in pieces of at most 64 KiB, each as a note step when
  // it is full, and a batch holds at most 1 MiB of text and paths: memory
  // stays bounded whatever the names hold.
  void AddText(std::string_view text);
  // A stored name, shown as on a terminal (control bytes as '?').
  void AddName(std::string_view name);
  // The same for a part of a name as the pool stores it, back to front.
  void AddStoredName(std::span<const std::uint8_t> stored);

  // Makes room for `bytes` of file data and a path of `path_bytes`, passing
  // the batch on when it lacks them. False when the writing side has
  // stopped.
  bool Reserve(std::size_t bytes, std::size_t path_bytes = 0);

  std::uint8_t* data() { return batch_->free_space().data(); }

  // Adds a step with the pending text, the path, and `bytes` just placed
  // at data(); `ends_file` when no step of the same file follows. Call
  // Reserve first.
  void AddStep(StepKind kind, std::string_view path, std::uint32_t bytes, bool ends_file = true,
               bool read_failed = false);

  // A step that only prints the pending text.
  void AddNote();

  // Sends what is left, marked as the end.
  void Finish();

 private:
  template <typename Copy>
  void AddPieces(std::size_t size, bool displayable, Copy copy);

  BatchPipe& pipe_;
  ExtractBatch* batch_;
  std::string pending_text_;
};

}  // namespace kestrum
