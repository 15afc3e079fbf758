#include "format/pak_path.h"

namespace kestrum {

void NormalizePakPath(std::string& path) {
  for (char& c : path) c = NormalizePathByte(c);
}

std::uint16_t NameHash(std::string_view path) {
  // Only the low 16 bits of hash * 31 + byte depend on the low 16 bits of
  // hash, so the sum is kept in a wider word and cut once at the end.
  std::uint32_t hash = 0;
  for (char c : path) hash = hash * 31u + static_cast<unsigned char>(c);
  return static_cast<std::uint16_t>(hash);
}

void MakeDisplayable(std::string& text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i) text[i] = DisplayByte(text[i]);
}

std::string DisplayName(std::string_view name) {
  std::string shown(name);
  MakeDisplayable(shown);
  return shown;
}

}  // namespace kestrum
