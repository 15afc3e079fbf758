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

std::optional<std::size_t> PakPositionOf(std::int32_t pak_id) {
  const PakRegistryTable& registry = PakRegistry();
  for (std::size_t position = registry.size(); position-- > 0;) {
    if (registry[position]->id == pak_id) return position;
  }
  return std::nullopt;
}

void SetNextPakIdForTesting(std::uint32_t next) { next_pak_id = next & 0x7FFFFFFFu; }

}  // namespace kestrum
