#include "format/locale_key.h"

#include "format/pak_path.h"

namespace kestrum {

LocaleKey& CurrentLocaleKey() {
  static LocaleKey key;
  return key;
}

LocaleKey LocaleKeyFromText(const char* text) {
  LocaleKey key;
  if (text == nullptr || text[0] == '\0' || text[1] == '\0') return key;
  key.enabled = true;
  key.bytes[0] = static_cast<std::uint8_t>(FoldAsciiCase(text[0]));
  key.bytes[1] = static_cast<std::uint8_t>(FoldAsciiCase(text[1]));
  return key;
}

void SetLocaleKey(const char* text) {
  const LocaleKey key = LocaleKeyFromText(text);
  if (key.enabled) CurrentLocaleKey() = key;
}

}  // namespace kestrum
