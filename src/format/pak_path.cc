#include "format/pak_path.h"

namespace kestrum {

void NormalizePakPath(std::string& path) {
  for (char& c : path) c = NormalizePathByte(c);
}

std::uint16_t NameHash(std::string_view path) {
  std::uint16_t hash = 0;
  for (char c : path) hash = NameHashStep(hash, c);
  return hash;
}

}  // namespace kestrum
