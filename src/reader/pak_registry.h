// The process-wide table of open pakfiles, in order of opening, and the pak
// id counter. A position moves down when an earlier pakfile closes; an id
// never changes. Opening and closing run while no other thread is inside the
// reader runtime, so neither is locked.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "reader/open_pakfile.h"

namespace kestrum {

using PakRegistryTable = std::vector<std::unique_ptr<OpenPakfile>>;

PakRegistryTable& PakRegistry();

// Hands out the next id: 0, 1, ... up to 0x7FFFFFFF, then 0 again.
std::int32_t TakeNextPakId();

void SetNextPakIdForTesting(std::uint32_t next);

}  // namespace kestrum
