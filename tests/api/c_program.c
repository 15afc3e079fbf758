/* A C99 program on the C interface of the reader runtime, as a game or a
   binding would use it. Built against the build tree's shared library, the
   installed tree (through pkg-config) and, in the Windows build, kestrum.dll.

     c_program PAK

   PAK is built under the locale "fr" from: data/a.txt = "0123456789",
   data/empty.txt = "", readme = "readme\n", in that order. Prints one line
   per failed check and exits 1 if there is any. */
#include <kestrum/kestrum.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(condition)                                          \
  do {                                                            \
    if (!(condition)) {                                           \
      printf("FAILED (line %d): %s\n", __LINE__, #condition);     \
      ++failures;                                                 \
    }                                                             \
  } while (0)

static int entry_is(kestrum_pak* pak, uint32_t index, const char* path, uint64_t size) {
  char buffer[64];
  size_t length = 0;
  uint64_t found = 0;
  return kestrum_pak_entry(pak, index, buffer, sizeof buffer, &length, &found) == KESTRUM_OK &&
         strcmp(buffer, path) == 0 && length == strlen(path) && found == size;
}

int main(int argc, char** argv) {
  kestrum_pak* pak = NULL;
  kestrum_file* file = NULL;
  char locale[3] = "xx";
  char bytes[32];
  size_t got = 0;
  uint64_t value = 0;
  uint32_t count = 0;
  size_t length = 0;

  if (argc != 2) {
    printf("usage: c_program PAK\n");
    return 2;
  }

  /* Reasons for failed opens. */
  CHECK(kestrum_pak_open("no/such/kestrum.pak", &pak) == KESTRUM_ERR_NOT_FOUND && pak == NULL);
  CHECK(kestrum_pak_open_ex(argv[1], NULL, &pak, locale) == KESTRUM_ERR_WRONG_LOCALE);
  CHECK(strcmp(locale, "fr") == 0);
  CHECK(kestrum_pak_open(NULL, &pak) == KESTRUM_ERR_INVALID_ARGUMENT);
  CHECK(kestrum_set_locale("fra") == KESTRUM_ERR_INVALID_ARGUMENT);
  CHECK(strcmp(kestrum_error_message(KESTRUM_ERR_WRONG_LOCALE), "the pakfile was built under another locale code") ==
        0);
  CHECK(strcmp(kestrum_error_message((kestrum_status)12345), "unknown error") == 0);

  CHECK(kestrum_set_locale("FR") == KESTRUM_OK);
  CHECK(kestrum_pak_open(argv[1], &pak) == KESTRUM_OK && pak != NULL);

  /* Entries in data order. */
  CHECK(kestrum_pak_entry_count(pak, &count) == KESTRUM_OK && count == 3);
  CHECK(entry_is(pak, 0, "data\\a.txt", 10));
  CHECK(entry_is(pak, 1, "data\\empty.txt", 0));
  CHECK(entry_is(pak, 2, "readme", 7));
  CHECK(kestrum_pak_entry(pak, 3, bytes, sizeof bytes, NULL, NULL) == KESTRUM_ERR_INVALID_ARGUMENT);
  CHECK(kestrum_pak_entry(pak, 0, NULL, 0, &length, NULL) == KESTRUM_ERR_BUFFER_TOO_SMALL && length == 10);
  CHECK(kestrum_pak_entry(pak, 0, bytes, 10, &length, NULL) == KESTRUM_ERR_BUFFER_TOO_SMALL && bytes[0] == '\0');

  /* Looking up and reading, in any case and with either slash. */
  CHECK(kestrum_stat("DATA/A.TXT", &value) == KESTRUM_OK && value == 10);
  CHECK(kestrum_stat("data/none.txt", &value) == KESTRUM_ERR_NOT_FOUND);
  CHECK(kestrum_file_open("Data/A.txt", &file) == KESTRUM_OK);
  CHECK(kestrum_file_size(file, &value) == KESTRUM_OK && value == 10);
  CHECK(kestrum_file_read(file, bytes, 4, &got) == KESTRUM_OK && got == 4 && memcmp(bytes, "0123", 4) == 0);
  CHECK(kestrum_file_seek(file, -3, KESTRUM_SEEK_END, &value) == KESTRUM_OK && value == 7);
  CHECK(kestrum_file_read(file, bytes, sizeof bytes, &got) == KESTRUM_OK && got == 3 && memcmp(bytes, "789", 3) == 0);
  CHECK(kestrum_file_read(file, bytes, sizeof bytes, &got) == KESTRUM_OK && got == 0);
  CHECK(kestrum_file_read_at(file, 2, bytes, 5, &got) == KESTRUM_OK && got == 5 && memcmp(bytes, "23456", 5) == 0);
  CHECK(kestrum_file_tell(file, &value) == KESTRUM_OK && value == 10);
  CHECK(kestrum_file_seek(file, -11, KESTRUM_SEEK_END, &value) == KESTRUM_ERR_INVALID_ARGUMENT);
  CHECK(kestrum_file_seek(file, 0, 3, NULL) == KESTRUM_ERR_INVALID_ARGUMENT);
  CHECK(kestrum_file_read(file, NULL, 1, &got) == KESTRUM_ERR_INVALID_ARGUMENT);

  /* Closing the pakfile makes the file handle useless but still closable;
     closed handles are refused, not used. */
  CHECK(kestrum_pak_close(pak) == KESTRUM_OK);
  CHECK(kestrum_pak_close(pak) == KESTRUM_ERR_INVALID_HANDLE);
  CHECK(kestrum_file_read(file, bytes, 1, &got) == KESTRUM_ERR_INVALID_HANDLE && got == 0);
  CHECK(kestrum_file_close(file) == KESTRUM_OK);
  CHECK(kestrum_file_close(file) == KESTRUM_ERR_INVALID_HANDLE);
  CHECK(kestrum_file_open("data/a.txt", &file) == KESTRUM_ERR_NOT_FOUND && file == NULL);
  CHECK(kestrum_pak_entry_count(pak, &count) == KESTRUM_ERR_INVALID_HANDLE);

  kestrum_pak_close_all();
  if (failures == 0) printf("C interface %s: ok\n", kestrum_version());
  return failures == 0 ? 0 : 1;
}
