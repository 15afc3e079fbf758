// The C interface: status texts, the locale, pakfiles, their entries, and
// looking paths up.
#include <cstring>
#include <string>

#include "api/c_status.h"
#include "api/kestrum.h"
#include "format/locale_key.h"
#include "reader/pak_reader.h"

namespace {

using kestrum::Guarded;
using kestrum::PakError;
using kestrum::StatusOf;

constexpr std::uint32_t kDefaultBlockKib = 64;
constexpr std::uint32_t kMaxBlockKib = 1048576;

// A pakfile's token is its pak id + 1, so that no token is NULL.
kestrum_pak* TokenOf(std::int32_t pak_id) {
  // A token in pointer clothing, never dereferenced.
  return reinterpret_cast<kestrum_pak*>(static_cast<std::uintptr_t>(pak_id) + 1);  // NOLINT(performance-no-int-to-ptr)
}
// The id a token stands for, or -1 for a value that no open could have given.
std::int32_t IdOf(const kestrum_pak* pak) {
  const auto token = reinterpret_cast<std::uintptr_t>(pak);
  return token == 0 || token > 0x80000000u ? -1 : static_cast<std::int32_t>(token - 1);
}

bool IsLowerLetter(std::uint8_t c) { return c >= 'a' && c <= 'z'; }

}  // namespace

extern "C" {

const char* kestrum_error_message(kestrum_status status) {
  return kestrum::PakErrorMessage(static_cast<PakError>(status));
}

const char* kestrum_version(void) { return "1.0"; }

kestrum_status kestrum_set_locale(const char* code) {
  if (code == nullptr || std::strlen(code) != 2) return KESTRUM_ERR_INVALID_ARGUMENT;
  if (std::strcmp(code, "--") == 0) {
    kestrum::CurrentLocaleKey() = kestrum::LocaleKey{};
  } else {
    kestrum::SetLocaleKey(code);
  }
  return KESTRUM_OK;
}

kestrum_status kestrum_pak_open(const char* path, kestrum_pak** pak) {
  return kestrum_pak_open_ex(path, nullptr, pak, nullptr);
}

kestrum_status kestrum_pak_open_ex(const char* path, const kestrum_open_options* options, kestrum_pak** pak,
                                   char built_locale[3]) {
  if (pak != nullptr) *pak = nullptr;
  if (built_locale != nullptr) built_locale[0] = '\0';
  if (path == nullptr || pak == nullptr) return KESTRUM_ERR_INVALID_ARGUMENT;
  const kestrum_open_options defaults{};
  const kestrum_open_options& o = options != nullptr ? *options : defaults;
  const std::uint32_t block_kib = o.block_kib == 0 ? kDefaultBlockKib : o.block_kib;
  if (block_kib > kMaxBlockKib) return KESTRUM_ERR_INVALID_ARGUMENT;
  return Guarded([&]() -> kestrum_status {
    const kestrum::PakOpenResult opened = kestrum::PakOpenWithReason(
        path, block_kib, o.cache_path != nullptr ? o.cache_path : "", o.stamp, o.make_copy != 0);
    if (opened.error != PakError::kNone) {
      const auto& key = opened.built_under.bytes;
      if (built_locale != nullptr && opened.error == PakError::kWrongLocale && IsLowerLetter(key[0]) &&
          IsLowerLetter(key[1])) {
        built_locale[0] = static_cast<char>(key[0]);
        built_locale[1] = static_cast<char>(key[1]);
        built_locale[2] = '\0';
      }
      return StatusOf(opened.error);
    }
    *pak = TokenOf(opened.id);
    return KESTRUM_OK;
  });
}

kestrum_status kestrum_pak_close(kestrum_pak* pak) {
  const std::int32_t id = IdOf(pak);
  if (id < 0) return KESTRUM_ERR_INVALID_HANDLE;
  return Guarded(
      [&]() -> kestrum_status { return kestrum::PakCloseById(id) ? KESTRUM_OK : KESTRUM_ERR_INVALID_HANDLE; });
}

void kestrum_pak_close_all(void) {
  (void)Guarded([]() -> kestrum_status {
    kestrum::PakCloseAll();
    return KESTRUM_OK;
  });
}

kestrum_status kestrum_pak_entry_count(kestrum_pak* pak, uint32_t* count) {
  const std::int32_t id = IdOf(pak);
  if (id < 0) return KESTRUM_ERR_INVALID_HANDLE;
  if (count == nullptr) return KESTRUM_ERR_INVALID_ARGUMENT;
  return Guarded([&]() -> kestrum_status { return StatusOf(kestrum::PakEntryCount(id, *count)); });
}

kestrum_status kestrum_pak_entry(kestrum_pak* pak, uint32_t index, char* path, size_t path_size, size_t* path_length,
                                 uint64_t* size) {
  const std::int32_t id = IdOf(pak);
  if (id < 0) return KESTRUM_ERR_INVALID_HANDLE;
  if (path == nullptr && path_size != 0) return KESTRUM_ERR_INVALID_ARGUMENT;
  return Guarded([&]() -> kestrum_status {
    std::string stored;
    std::uint32_t stored_size = 0;
    const PakError error = kestrum::PakEntryAt(id, index, stored, stored_size);
    if (error != PakError::kNone) return StatusOf(error);
    if (path_length != nullptr) *path_length = stored.size();
    if (size != nullptr) *size = stored_size;
    if (path_size <= stored.size()) {
      if (path_size != 0) path[0] = '\0';
      return KESTRUM_ERR_BUFFER_TOO_SMALL;
    }
    std::memcpy(path, stored.c_str(), stored.size() + 1);
    return KESTRUM_OK;
  });
}

kestrum_status kestrum_stat(const char* path, uint64_t* size) {
  if (path == nullptr) return KESTRUM_ERR_INVALID_ARGUMENT;
  return Guarded([&]() -> kestrum_status {
    std::uint32_t found = 0;
    const PakError error = kestrum::PakPathSize(path, found);
    if (error == PakError::kNone && size != nullptr) *size = found;
    return StatusOf(error);
  });
}

}  // extern "C"
