// Reading the bytes of files inside pakfiles: the two roads a read can take.
#pragma once

#include <cstdint>

#include "reader/open_pakfile.h"
#include "reader/pak_reader.h"

namespace kestrum {

// Records the slots' positions and whether a cache copy is being written in
// the pakfile's published_slots and may_write_copy. Called with the lock
// held (or while no other thread uses the pakfile), after slot work.
void PublishSlots(OpenPakfile& pak);

// Reads up to count bytes from `offset` in the file of a handle that has
// just validated.
PakReadResult ReadFileAt(const PakFileHandle& handle, std::uint64_t offset, void* destination, std::uint32_t count);

}  // namespace kestrum
