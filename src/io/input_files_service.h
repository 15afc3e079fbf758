// The two services behind InputFiles (input_files.h): plain calls, shared by
// every system (input_files.cc), and the system's queued one, where it has
// one (input_files_<platform>.cc). Only the InputFiles files include this.
#pragma once

#include <memory>

#include "io/input_files.h"

namespace kestrum {

struct InputFiles::Service {
  virtual ~Service() = default;
  virtual bool queued() const = 0;
  virtual void Check(std::size_t first, std::span<const std::string> paths, std::span<InputCheck> out) = 0;
  virtual InputOutcome Read(std::span<const InputPiece> pieces) = 0;
  virtual void Forget(std::uint32_t file) = 0;
};

std::unique_ptr<InputFiles::Service> MakePlainInputs(std::size_t count);
// Null where the system has no queued service to give.
std::unique_ptr<InputFiles::Service> MakeQueuedInputs(std::size_t count, std::size_t group);

}  // namespace kestrum
