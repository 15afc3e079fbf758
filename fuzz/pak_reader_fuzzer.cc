// Arbitrary pakfile images through the reader runtime: header loading and
// directory decode, both listings, a lookup of every path and a full read of
// every entry. The first byte picks the locale key, the I/O back end and the
// buffer size; the rest is the pakfile, held in an anonymous memory file.
// Whatever the bytes, nothing may crash, hang or read outside a buffer, and
// every byte delivered as file content must be the stored byte unmasked.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands/listing.h"
#include "format/crc32.h"
#include "format/locale_key.h"
#include "format/mask.h"
#include "format/pak_layout.h"
#include "format/scramble.h"
#include "io/async_file.h"
#include "reader/entry_path.h"
#include "reader/pak_reader.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// The pakfile's bytes as a file: one anonymous memory file for every run,
// rewritten and cut to the image's length each time. Opened by its path, as
// the tool opens a pakfile.
class ImageFile {
 public:
  ImageFile() : fd_(::memfd_create("pakfile", MFD_CLOEXEC)), path_("/proc/self/fd/" + std::to_string(fd_)) {}
  bool Hold(const std::uint8_t* data, std::size_t size) {
    if (fd_ < 0) return false;
    for (std::size_t done = 0; done < size;) {
      const ssize_t put = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (put <= 0) return false;
      done += static_cast<std::size_t>(put);
    }
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
  }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// Gives a mutated image the checksum its header region now needs, so that
// damaged directories and pools get past the check and into the runtime.
void FitChecksum(std::vector<std::uint8_t>& image, const kestrum::LocaleKey& key) {
  using namespace kestrum;
  if (image.size() < kFixedHeaderSize) return;
  const std::uint32_t entries = LoadU32(image.data() + 36) ^ 0x5A5A5A5Au;
  const std::uint32_t header_size = LoadU32(image.data() + 44) ^ 0x5A5A5A5Au;
  const std::uint64_t pool_start = kFixedHeaderSize + std::uint64_t{kDirRecordSize} * entries;
  if (entries == 0 || entries > kMaxEntries || header_size < pool_start || header_size > image.size()) return;
  const auto region = std::span(image).first(header_size);
  MaskData(region);
  const auto pool = region.subspan(static_cast<std::size_t>(pool_start));
  UnscrambleHeader(pool, key);
  std::vector<std::uint8_t> covered(region.begin(), region.end());
  StoreU32(covered.data() + 24, kNoStamp);
  StoreU32(covered.data() + 32, kNoStamp);
  std::uint32_t crc = kCrcStart;
  Crc32Update(covered, crc);
  StoreU32(region.data() + 32, crc);
  ScrambleHeader(pool, key);
  MaskData(region);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrum;
  if (size == 0) return 0;
  const std::uint8_t control = data[0];
  const std::uint8_t* image = data + 1;
  const std::size_t image_size = size - 1;

  static const LocaleKey keys[] = {LocaleKey{}, LocaleKeyFromText("fr"), LocaleKeyFromText("de"),
                                   LocaleKeyFromText("--")};
  CurrentLocaleKey() = keys[control & 3];
  static std::vector<std::uint8_t> fitted;
  if (control & 16) {
    fitted.assign(image, image + image_size);
    FitChecksum(fitted, keys[control & 3]);
    image = fitted.data();
  }
  UseImmediateTransfers((control & 4) != 0);
  const std::uint32_t block_kib = (control & 8) ? 4 : 64;

  static ImageFile file;
  if (!file.Hold(image, image_size)) return 0;
  const std::int32_t id = PakOpen(file.path(), block_kib, {}, 0, false);
  if (id >= 0) {
    PakHeader header;
    std::vector<std::uint8_t> names;
    std::vector<DirRecord> records;
    PakGetDirectory(id, header, names, records);
    Require(records.size() == header.entry_count);
    Require(header.header_size <= image_size);
    static std::FILE* sink = std::fopen("/dev/null", "w");
    ListPakfile(header, names, records, true, sink);
    ListPakfile(header, names, records, false, sink);

    static std::vector<std::uint8_t> chunk(70000);
    std::string entry_path;
    for (std::uint32_t k = 0; k < records.size(); ++k) {
      if (!BuildEntryPath(k, names, records, entry_path)) continue;
      PakFileHandle* handle = PakFileOpen(entry_path);
      if (handle == nullptr) continue;
      const DirRecord& found = records[static_cast<std::size_t>(handle->entry)];
      const std::int32_t file_size = PakFileSize(handle);
      Require(file_size == static_cast<std::int32_t>(found.size) || file_size == -1);
      std::uint64_t offset = 0;
      for (;;) {
        const std::int32_t got = PakFileRead(handle, chunk.data(), static_cast<std::uint32_t>(chunk.size()));
        if (got <= 0) break;
        // Delivered bytes are the stored bytes with the mask removed.
        const std::uint64_t at = std::uint64_t{header.header_size} + found.data_offset + offset;
        Require(at + static_cast<std::uint64_t>(got) <= image_size);
        for (std::int32_t i = 0; i < got; ++i)
          Require(chunk[static_cast<std::size_t>(i)] == (image[at + static_cast<std::uint64_t>(i)] ^ kDataMask));
        offset += static_cast<std::uint64_t>(got);
        Require(offset <= found.size);
      }
      PakFileClose(handle);
    }
    PakCloseAll();
  }
  return 0;
}
