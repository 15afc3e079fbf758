// InputFiles with plain calls, on every system: each file opened and
// measured by the check, held while the process may hold that many, and
// read piece by piece; a held file must still have a name when the copy
// begins, a file not held is opened again, and either must still have its
// checked length.
#include "io/input_files.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "io/batch_mode.h"
#include "io/file.h"
#include "io/input_files_service.h"

namespace kestrum {
namespace {

// Files held for the copy leave this many descriptors for everything else.
constexpr std::size_t kSpareDescriptors = 64;
// The read-ahead hint pays off only for files that take many reads.
constexpr std::uint64_t kHintWorthwhile = 1 << 20;

}  // namespace

namespace input_files {

class Plain {
 public:
  explicit Plain(std::size_t count) : files_(count), changed_(count) {
    // Holding by number bounds the open files at any moment, however far
    // the checks run ahead of their use.
    const std::size_t budget = RaiseOpenFileLimit();
    hold_below_ = budget > kSpareDescriptors ? budget - kSpareDescriptors : 0;
    ReserveOpenFiles(std::min(count, hold_below_) + kSpareDescriptors);
  }

  void Check(std::size_t first, std::span<const std::string> paths, std::span<InputCheck> out) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      out[i] = InputCheck{};
      if (paths[i].empty()) continue;
      File file = OpenRegularForReading(paths[i], AccessHint::kNormal, &out[i].length);
      out[i].exists = file.valid();
      if (first + i < hold_below_) files_[first + i] = std::move(file);
    }
  }

  InputOutcome Read(std::span<const InputPiece> pieces) {
    for (std::size_t p = 0; p < pieces.size(); ++p) {
      const InputPiece& piece = pieces[p];
      File& file = files_[piece.file];
      if (piece.first && !Reopen(piece, file)) {
        changed_[piece.file] = 1;
        return {InputStatus::kChanged, p};
      }
      // A later piece of a file whose first piece found it changed.
      if (changed_[piece.file] != 0 || !file) return {InputStatus::kChanged, p};
      const std::optional<std::size_t> got = ReadFullyAt(file, piece.offset, piece.into);
      if (piece.last) file.Close();
      if (!got || *got != piece.into.size()) return {InputStatus::kFailed, p};
    }
    return {InputStatus::kOk, pieces.size()};
  }

  void Forget(std::uint32_t file) { files_[file].Close(); }

 private:
  // The file to copy, with its length now: the one the check held, if it
  // still has a name, else the file opened again.
  static bool Reopen(const InputPiece& piece, File& file) {
    std::uint64_t length = 0;
    if (file) {
      const std::optional<std::uint64_t> now = LinkedFileLength(file);
      if (!now) {
        file.Close();
        return false;
      }
      length = *now;
    } else {
      file = OpenRegularForReading(std::string(piece.path), AccessHint::kNormal, &length);
    }
    if (!file || length != piece.length) {
      file.Close();
      return false;
    }
    if (length >= kHintWorthwhile) AdviseSequential(file);
    return true;
  }

  std::vector<File> files_;
  std::vector<std::uint8_t> changed_;  // by file: its first piece found it changed
  std::size_t hold_below_ = 0;
};

}  // namespace input_files

InputFiles::InputFiles(std::size_t count, std::size_t group) {
  if (!PlainBatchesForced()) queued_.reset(input_files::MakeQueued(count, group));
  if (!queued_) plain_ = std::make_unique<input_files::Plain>(count);
}

InputFiles::~InputFiles() = default;

bool InputFiles::queued() const { return queued_ != nullptr; }

void InputFiles::Check(std::size_t first, std::span<const std::string> paths, std::span<InputCheck> out) {
  if (queued_) {
    input_files::Check(*queued_, first, paths, out);
  } else {
    plain_->Check(first, paths, out);
  }
}

InputOutcome InputFiles::Read(std::span<const InputPiece> pieces) {
  return queued_ ? input_files::Read(*queued_, pieces) : plain_->Read(pieces);
}

void InputFiles::Forget(std::uint32_t file) {
  if (queued_) {
    input_files::Forget(*queued_, file);
  } else {
    plain_->Forget(file);
  }
}

}  // namespace kestrum
