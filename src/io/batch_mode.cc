#include "io/batch_mode.h"

#include <atomic>

namespace kestrum {
namespace {

std::atomic<bool> plain_forced{false};

}  // namespace

void ForcePlainBatchesForTesting(bool force) { plain_forced.store(force, std::memory_order_relaxed); }

bool PlainBatchesForced() { return plain_forced.load(std::memory_order_relaxed); }

}  // namespace kestrum
