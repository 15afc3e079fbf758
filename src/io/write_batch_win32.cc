// Windows has no queued service for WriteBatch: every group is one file, done
// with plain calls.
#include "io/write_batch.h"

namespace kestrum::write_batch {

struct Ring {};

void RingDeleter::operator()(Ring* ring) const { delete ring; }

Ring* MakeRing(std::size_t) { return nullptr; }

bool RunChain(Ring&, std::span<WriteBatch::Queued>) { return false; }

}  // namespace kestrum::write_batch
