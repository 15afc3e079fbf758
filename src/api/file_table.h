// The C interface's table of open kestrum_file handles. A handle is a token,
// (generation << kSlotBits) | (slot + 1), never a pointer that could dangle:
// a closed or invented token finds no live slot, and a slot that is used
// again gets a new generation, so an old token stays dead.
//
// Slots are never freed (only reused), and the caller's handle state is
// copied out and back under the table's mutex, so even two threads misusing
// one handle at once cannot reach freed memory.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "reader/pak_reader.h"

namespace kestrum {

class FileTable {
 public:
  // The token of a new live slot holding `handle`; 0 when the table is full
  // (2^32 - 1 slots on 64-bit systems). Throws std::bad_alloc.
  std::uintptr_t Add(const PakFileHandle& handle);
  // Copies out the handle of a live token; false for any other token.
  bool Get(std::uintptr_t token, PakFileHandle& handle);
  // Stores the handle back, if the token is still live.
  void Put(std::uintptr_t token, const PakFileHandle& handle);
  // Ends a live token; false for any other token.
  bool Remove(std::uintptr_t token);

 private:
  struct Slot {
    PakFileHandle handle;
    std::uintptr_t generation = 1;
    bool live = false;
  };
  Slot* LiveSlot(std::uintptr_t token);

  std::mutex mutex_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<std::uint32_t> free_;
};

// The process-wide table behind the C interface.
FileTable& OpenFiles();

}  // namespace kestrum
