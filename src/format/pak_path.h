// Paths inside a pakfile are normalised: 'A'-'Z' folded to 'a'-'z' and every
// '/' turned into '\'. No other byte changes; bytes from 0x80 up pass as they
// are. Names are stored, hashed and looked up in this form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrum {

inline constexpr char kPakSeparator = '\\';

constexpr char FoldAsciiCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr char NormalizePathByte(char c) { return c == '/' ? kPakSeparator : FoldAsciiCase(c); }

// Rewrites the string in place into its normalised form.
void NormalizePakPath(std::string& path);

// One step of the 16-bit name hash: hash * 31 + byte, modulo 65536.
constexpr std::uint16_t NameHashStep(std::uint16_t hash, char c) {
  return static_cast<std::uint16_t>(hash * 31u + static_cast<unsigned char>(c));
}

// The name hash of a (normalised) path. The empty path hashes to 0.
std::uint16_t NameHash(std::string_view path);

// How a byte of a stored or listed name is shown on a terminal: control
// bytes (below 0x20, and 0x7F) become '?', so that no name can fake a line
// of output or send an escape sequence; every other byte shows as it is.
constexpr char DisplayByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b < 0x20 || b == 0x7F) ? '?' : c;
}

// Rewrites the bytes from `from` to the end of `text` with DisplayByte.
void MakeDisplayable(std::string& text, std::size_t from = 0);

// The name as shown on a terminal; see DisplayByte.
std::string DisplayName(std::string_view name);

}  // namespace kestrum
