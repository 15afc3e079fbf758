#include <liburing.h>

#include <bitset>

#include "io/uring_support.h"

namespace kestrum {
namespace {

// The operations a ring of this kernel supports, found once; none when no
// ring can be set up.
const std::bitset<256>& SupportedOperations() {
  static const std::bitset<256> supported = [] {
    std::bitset<256> ops;
    io_uring ring{};
    if (io_uring_queue_init(2, &ring, 0) != 0) return ops;
    if (io_uring_probe* probe = io_uring_get_probe_ring(&ring)) {
      for (int op = 0; op < static_cast<int>(ops.size()); ++op) {
        if (io_uring_opcode_supported(probe, op)) ops.set(static_cast<std::size_t>(op));
      }
      io_uring_free_probe(probe);
    }
    io_uring_queue_exit(&ring);
    return ops;
  }();
  return supported;
}

}  // namespace

bool UringSupports(std::initializer_list<int> operations) {
  const std::bitset<256>& supported = SupportedOperations();
  for (const int op : operations) {
    if (op < 0 || op >= static_cast<int>(supported.size()) || !supported.test(static_cast<std::size_t>(op))) {
      return false;
    }
  }
  return true;
}

}  // namespace kestrum
