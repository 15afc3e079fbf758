// Windows gives InputFiles no queued service: plain calls do it all.
#include "io/input_files_service.h"

namespace kestrum::input_files {

struct Queued {};

void QueuedDeleter::operator()(Queued* queued) const { delete queued; }

Queued* MakeQueued(std::size_t, std::size_t) { return nullptr; }

void Check(Queued&, std::size_t, std::span<const std::string>, std::span<InputCheck>) {}

InputOutcome Read(Queued&, std::span<const InputPiece>) { return {InputStatus::kFailed, 0}; }

void Forget(Queued&, std::uint32_t) {}

}  // namespace kestrum::input_files
