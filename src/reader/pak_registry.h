// The process-wide table of open pakfiles, in order of opening, and the pak
// id counter. A position moves down when an earlier pakfile closes; an id
// never changes. Opening and closing run while no other thread is inside the
// reader runtime, so neither is locked.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "reader/open_pakfile.h"

namespace kestrum {

using PakRegistryTable = std::vector<std::unique_ptr<OpenPakfile>>;

PakRegistryTable& PakRegistry();

// Hands out the next id: 0, 1, ... up to 0x7FFFFFFF, then 0 again.
std::int32_t TakeNextPakId();

// The registry position of the pakfile with this id, searched from the newest
// down; nothing when no open pakfile has it.
std::optional<std::size_t> PakPositionOf(std::int32_t pak_id);

void SetNextPakIdForTesting(std::uint32_t next);

}  // namespace kestrum
