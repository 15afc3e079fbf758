#include "reader/pak_registry.h"

namespace kestrum {
namespace {

std::uint32_t next_pak_id = 0;

}  // namespace

PakRegistryTable& PakRegistry() {
  static PakRegistryTable registry;
  return registry;
}

std::int32_t TakeNextPakId() {
  const auto id = static_cast<std::int32_t>(next_pak_id);
  next_pak_id = (next_pak_id + 1) & 0x7FFFFFFFu;
  return id;
}

void SetNextPakIdForTesting(std::uint32_t next) { next_pak_id = next & 0x7FFFFFFFu; }

}  // namespace kestrum
