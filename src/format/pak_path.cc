#include "format/pak_path.h"

#include <cstring>

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
  // Listings pass every name through here, and nearly none holds a control
  // byte: eight bytes are checked at a time, and only a word that holds one
  // is changed byte by byte. A byte is below 0x20 when subtracting 0x20
  // from it borrows into its top bit while that bit was clear; 0x7F is the
  // same test for zero after an XOR with 0x7F.
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kTops = kOnes * 0x80;
  std::size_t i = from;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    const std::uint64_t del = word ^ (kOnes * 0x7F);
    if ((((word - kOnes * 0x20) & ~word) | ((del - kOnes) & ~del)) & kTops) {
      for (std::size_t k = i; k < i + 8; ++k) text[k] = DisplayByte(text[k]);
    }
  }
  for (; i < text.size(); ++i) text[i] = DisplayByte(text[i]);
}

std::string DisplayName(std::string_view name) {
  std::string shown(name);
  MakeDisplayable(shown);
  return shown;
}

}  // namespace kestrum
