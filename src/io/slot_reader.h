// The double-buffered reader through which every byte of a pakfile is read.
//
// Each open pakfile has two equal read slots. A request is served from the
// slot that holds its bytes; a slot that does not is refilled with one large
// overlapped read, and while the caller consumes one slot the other is already
// being filled with the following block (read-ahead). Each block is unmasked
// once, in place, when it is first consumed.
//
// Optionally the reader writes a cache copy of the file while reading it:
// every block is written through to the copy, strictly in file order and
// before it is unmasked, so the copy holds the bytes exactly as stored. The
// copy is written to a temporary file, which is removed when the copy is
// abandoned; only a complete one is renamed to its place (by the reader
// runtime, when the pakfile closes).
//
// A block whose read failed fails the request that needs it, and is read
// again by the next request that needs it.
//
// All of this works on a PakStream and must run under the pakfile's lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "io/async_file.h"

namespace kestrum {

enum class SlotState : std::uint32_t {
  kEmpty = 0,    // not loaded since the file was opened
  kLoaded = 1,   // read completed; the buffer still holds the bytes as stored
  kReady = 2,    // unmasked; can be copied from
  kFailed = 3,   // the read failed
  kPending = 4,  // the read was started and had not completed when last looked at
};

// A block buffer with its transfer state. Slot i of a stream transfers on
// channel i of the stream's file; the copy slot on channel 0 of the copy.
struct ReadSlot {
  std::vector<std::uint8_t> buffer;  // block_size bytes
  std::uint32_t position = 0;        // file position of buffer[0]
  std::uint32_t valid = 0;           // bytes of the block actually read
  SlotState state = SlotState::kEmpty;
};

enum class StreamMode : std::uint32_t {
  kPlain = 0,        // reading the pakfile, no copy
  kFromCopy = 1,     // reading a finished cache copy
  kWritingCopy = 2,  // reading the pakfile and writing the copy alongside
};

// The read limit while a header is loaded: the whole file.
inline constexpr std::uint32_t kWholeFileLimit = 0x7FFFFFFF;
inline constexpr int kReadChannels = 2;
inline constexpr int kCopyChannels = 1;

// What the slot reader needs of one open pakfile.
struct PakStream {
  std::uint32_t block_size = 0;
  std::uint32_t limit = kWholeFileLimit;  // blocks are read up to here
  StreamMode mode = StreamMode::kPlain;
  std::array<ReadSlot, 2> slots;
  // Write-through only: the copy slot stages each write; its state is Empty
  // (idle), Loaded (last write completed at once), Failed or Pending.
  ReadSlot copy_slot;
  std::uint32_t copy_pos = 0;  // bytes of the copy written or queued, from 0
  // The copy's temporary file, removed when the copy is abandoned; empty
  // when there is none to remove.
  std::string copy_temp_path;
  // Declared after the buffers: destroying a file collects its outstanding
  // transfers, which must happen before the buffers go.
  AsyncFile file;
  AsyncFile cache_file;
};

// Block size in bytes for a buffer size in KiB: the nearest multiple of
// 4 KiB, halfway going up (64 gives 65536, 5 gives 4096, 6 gives 8192).
constexpr std::uint64_t BlockSizeFor(std::uint32_t block_kib) {
  return ((std::uint64_t{block_kib} + 2) & ~std::uint64_t{3}) * 1024;
}

// Gives both slots their buffers, Empty at position 0.
void AllocateSlots(PakStream& pak, std::uint32_t block_size);
// Both slots Empty at position 0; for a newly opened file.
void ResetSlots(PakStream& pak);
// Cancels and collects the file's transfers, closes it and resets the slots.
void CloseStreamFile(PakStream& pak);

// Where the block loaded for a position starts: a multiple of 4096, 2048 to
// 6143 bytes before the position (0 near the start), so that stepping back a
// little needs no new read; closer when the block would not reach the position.
std::uint32_t BlockStartFor(std::uint32_t position, std::uint32_t block_size);

// True when a slot covers position and holds its block, or is loading it.
bool SlotsHold(const PakStream& pak, std::uint32_t position);

// Copies up to count bytes from position on to the destination and returns
// how many it copied. Fewer means a block could not be read, or the file
// ends (or the read limit lies) before the wanted bytes.
std::uint32_t ReadSpan(PakStream& pak, std::uint32_t position, std::uint32_t count, std::uint8_t* destination);

// Returns the slot that holds, or is being loaded with, the block containing
// position, and starts the read-ahead. end is where the wanted bytes end.
int PrepareBlocks(PakStream& pak, std::uint32_t position, std::uint64_t end);

// Waits for the slot's block, writes it through to the copy and unmasks it.
// False when the block could not be read; otherwise the slot is Ready, or
// Empty when nothing could be loaded into it.
bool AwaitBlock(PakStream& pak, int slot);

// Starts reading the block at block_position into the slot. Does nothing at
// or beyond the read limit.
void IssueBlockRead(PakStream& pak, std::uint32_t block_position, int slot);

// Writes the part of the slot's block that the copy still lacks.
void WriteThroughBlock(PakStream& pak, int slot);

// Ends write-through mode and releases the copy's file and buffer; the
// temporary file (copy_temp_path) is removed.
void StopCacheCopy(PakStream& pak);

}  // namespace kestrum
