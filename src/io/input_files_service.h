// The two services behind InputFiles (input_files.h): plain calls, shared by
// every system (input_files.cc), and the system's queued one, where it has
// one (input_files_<platform>.cc). Only the InputFiles files include this.
#pragma once

#include "io/input_files.h"

namespace kestrum::input_files {

// Null where the system has no queued service to give.
Queued* MakeQueued(std::size_t count, std::size_t group);
void Check(Queued& queued, std::size_t first, std::span<const std::string> paths, std::span<InputCheck> out);
InputOutcome Read(Queued& queued, std::span<const InputPiece> pieces);
void Forget(Queued& queued, std::uint32_t file);

}  // namespace kestrum::input_files
