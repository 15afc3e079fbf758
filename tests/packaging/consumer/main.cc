// A program that embeds the reader runtime, built against an installed
// Kestrum only: the header comes from <prefix>/include/kestrum, the code from
// the installed libraries.
#include <kestrum/pak_reader.h>

#include <array>
#include <cstdio>
#include <cstring>

int main() {
  int failures = 0;
  auto check = [&failures](bool ok, const char* what) {
    if (!ok) {
      std::printf("FAILED: %s\n", what);
      ++failures;
    }
  };

  const kestrum::PakFileHandle handle;
  check(handle.pak_index == -1 && handle.pak_id == -1, "a new PakFileHandle names no pakfile");

  // Code of the installed format library, reached through the runtime's header.
  const std::array<std::uint8_t, kestrum::kSignatureSize> signature = kestrum::MakeSignature();
  check(std::memcmp(signature.data(), "KESTR V 1.0\r\n", 14) == 0, "MakeSignature");

  kestrum::PakHeader header;
  header.byte_order_mark = kestrum::kByteOrderMark;
  header.entry_count = 4;
  header.header_size = 158;
  std::array<std::uint8_t, kestrum::kFixedHeaderSize> bytes{};
  kestrum::EncodeHeader(header, bytes);
  check(bytes[20] == 0x04 && bytes[23] == 0x01, "EncodeHeader writes little-endian");
  const kestrum::PakHeader back = kestrum::DecodeHeader(bytes);
  check(back.entry_count == 4 && back.header_size == 158, "DecodeHeader reads back EncodeHeader");

  // The runtime itself, with what it links from outside (the I/O layer's ring library).
  check(kestrum::PakOpen("/nonexistent/kestrum-consumer.pak", 64, "", 0, false) == -1,
        "PakOpen reports a pakfile that is not there");
  check(kestrum::PakFileOpen("anything") == nullptr, "PakFileOpen finds nothing with no pakfile open");

  if (failures == 0) std::printf("installed Kestrum: ok\n");
  return failures == 0 ? 0 : 1;
}
