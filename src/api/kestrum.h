/* Kestrum's reader runtime for C, and for any language with a C FFI.
 *
 *   #include <kestrum/kestrum.h>
 *   link: -lkestrum (pkg-config kestrum), or CMake Kestrum::reader_shared
 *
 * It opens pakfiles, looks paths up in them and reads the files inside. A
 * pakfile opened later shadows the same path in pakfiles opened before it;
 * paths are looked up in any letter case and with either slash. The runtime
 * prints nothing.
 *
 * Failures. Every function that can fail returns a kestrum_status: KESTRUM_OK
 * or the reason; results come back through pointer arguments, which are
 * written only on success unless a function says otherwise.
 * kestrum_error_message() turns a status into one line of English. There is
 * no global "last error", so reasons cannot get lost between threads.
 *
 * Handles. kestrum_pak and kestrum_file are opaque: the pointers are tokens
 * that the runtime looks up in its tables of live handles and never
 * dereferences. A handle that was closed, that was never valid, or whose
 * pakfile was closed is refused with KESTRUM_ERR_INVALID_HANDLE; closing one
 * twice is refused the same way, and never touches freed memory. A closed
 * handle's token is not given out again for a long time (a pakfile's token is
 * its pak id, unique among the next 2^31 opens; a file token carries a 32-bit
 * generation on 64-bit systems, a 12-bit one on 32-bit systems).
 *
 * Threads. kestrum_set_locale(), kestrum_pak_open(), kestrum_pak_open_ex(),
 * kestrum_pak_close() and kestrum_pak_close_all() must not overlap any other
 * call into the runtime. Between them, any number of threads may call the
 * other functions at once, with one thread per kestrum_file at a time. Reads
 * of different files run side by side, also in one pakfile: a read either
 * copies from the pakfile's shared read buffers (small reads in data order,
 * small pieces of a file), under that pakfile's lock but never waiting for
 * another thread's transfer, or goes straight into the caller's buffer with
 * no lock at all (files read whole out of order, large reads).
 *
 * Sizes. A pakfile and every file in it are smaller than 2 GiB; sizes and
 * positions are given as 64-bit numbers all the same.
 *
 * The C++ interface, <kestrum/pak_reader.h>, is the same runtime; both may be
 * used in one program.
 */
#ifndef KESTRUM_KESTRUM_H
#define KESTRUM_KESTRUM_H

#include <stddef.h>
#include <stdint.h>

#include "format/kestrum_export.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KESTRUM_VERSION_MAJOR 1
#define KESTRUM_VERSION_MINOR 0

/* What every call that can fail returns: KESTRUM_OK or the reason, one of
   the values below. A 32-bit integer rather than the enum itself, so that
   its size is the same in every language and a value from a later version
   is still a valid value. */
typedef int32_t kestrum_status;

enum kestrum_status_value {
  KESTRUM_OK = 0,
  /* No such pakfile; no open pakfile holds the path. */
  KESTRUM_ERR_NOT_FOUND = 1,
  /* Not a pakfile (or not a regular file), or a pakfile whose header is
     damaged or that is cut short. */
  KESTRUM_ERR_NOT_A_PAKFILE = 2,
  /* A sound pakfile, built under another locale code than the one set (or
     none set): its checksum matches another locale key exactly. */
  KESTRUM_ERR_WRONG_LOCALE = 3,
  /* The system could not open or read a file that is there (permissions, a
     failing disk). */
  KESTRUM_ERR_IO = 4,
  KESTRUM_ERR_NO_MEMORY = 5,
  /* A null pointer where one is needed, an unknown whence, a position out of
     range, a buffer size out of range, a locale code that is not two
     characters. */
  KESTRUM_ERR_INVALID_ARGUMENT = 6,
  /* A handle that is not open: closed, never valid, or its pakfile closed. */
  KESTRUM_ERR_INVALID_HANDLE = 7,
  /* The path buffer is too short; the length needed was given back. */
  KESTRUM_ERR_BUFFER_TOO_SMALL = 8
};

/* An open pakfile and an open file inside the open pakfiles. */
typedef struct kestrum_pak kestrum_pak;
typedef struct kestrum_file kestrum_file;

/* One line of English for the status ("unknown error" for a value outside
   the list). Static text; never NULL. */
KESTRUM_API const char* kestrum_error_message(kestrum_status status);

/* The runtime's version as text, such as "1.0". */
KESTRUM_API const char* kestrum_version(void);

/* Sets the locale code under which pakfiles are opened: two characters such
   as "fr" (either letter case), or "--" for none, the setting at start. A
   pakfile built under a code opens only under that code; one built with
   "--" opens under any code. Applies to pakfiles opened afterwards.
   KESTRUM_ERR_INVALID_ARGUMENT for NULL or a text of another length. */
KESTRUM_API kestrum_status kestrum_set_locale(const char* code);

/* Options of kestrum_pak_open_ex(). Set all fields (zero is a good start). */
typedef struct kestrum_open_options {
  /* Size of each of the pakfile's two read buffers, in KiB, rounded to a
     multiple of 4: 2 to 1048576; 0 means 64. */
  uint32_t block_kib;
  /* With a cache path: the stamp that a finished cache copy must carry to be
     read instead of the pakfile, and that a new copy receives when the
     pakfile is closed. 0xFFFFFFFF accepts a copy with any stamp. */
  uint32_t stamp;
  /* Path of a local cache copy of the pakfile, or NULL for none. */
  const char* cache_path;
  /* Nonzero: when the cache copy is missing or stale, write a new one while
     the pakfile is read; it is finished and stamped by kestrum_pak_close(). */
  int32_t make_copy;
} kestrum_open_options;

/* Opens the pakfile at path, with 64 KiB buffers and no cache copy, and
   sets *pak. Fails with KESTRUM_ERR_NOT_FOUND, _NOT_A_PAKFILE,
   _WRONG_LOCALE, _IO, _NO_MEMORY or _INVALID_ARGUMENT (NULL arguments);
   *pak is then set to NULL when pak is not NULL. */
KESTRUM_API kestrum_status kestrum_pak_open(const char* path, kestrum_pak** pak);

/* The same with options (NULL: the defaults above). built_locale, when not
   NULL, receives "" or, with KESTRUM_ERR_WRONG_LOCALE, the two-letter code
   the pakfile was built under (when its key bytes are letters a to z). A
   cache copy that cannot be used is passed over silently; only the
   pakfile's own failure is reported. */
KESTRUM_API kestrum_status kestrum_pak_open_ex(const char* path, const kestrum_open_options* options, kestrum_pak** pak,
                                               char built_locale[3]);

/* Closes the pakfile; with a cache copy being written, finishes and stamps
   it first. Files opened in it stay handles that must still be closed, but
   every other call on them fails with KESTRUM_ERR_INVALID_HANDLE. */
KESTRUM_API kestrum_status kestrum_pak_close(kestrum_pak* pak);

/* Closes every open pakfile, also those opened through the C++ interface. */
KESTRUM_API void kestrum_pak_close_all(void);

/* The pakfile's entries in data order (the order of their bytes, as
   "kestrum -l" lists them): their number, and entry `index` (0 to count - 1)
   with its path as stored (lower case, '\' between the parts, no leading
   separator) and its size. Paths are bytes as the list file gave them; they
   contain no NUL.
   path receives the path and a NUL when path_size is larger than its length;
   otherwise the result is KESTRUM_ERR_BUFFER_TOO_SMALL (path, when
   path_size is not 0, gets an empty text). path may be NULL when path_size
   is 0. path_length (the length without the NUL) and size are set in both
   cases; either may be NULL. KESTRUM_ERR_INVALID_ARGUMENT for an
   index out of range. */
KESTRUM_API kestrum_status kestrum_pak_entry_count(kestrum_pak* pak, uint32_t* count);
KESTRUM_API kestrum_status kestrum_pak_entry(kestrum_pak* pak, uint32_t index, char* path, size_t path_size,
                                             size_t* path_length, uint64_t* size);

/* Whether an open pakfile holds the path (KESTRUM_OK) or none does
   (KESTRUM_ERR_NOT_FOUND), and the size of the file kestrum_file_open()
   would open (size may be NULL). Opens nothing. */
KESTRUM_API kestrum_status kestrum_stat(const char* path, uint64_t* size);

/* Opens a file inside the open pakfiles, newest pakfile first. *file is set
   to NULL on failure when file is not NULL. */
KESTRUM_API kestrum_status kestrum_file_open(const char* path, kestrum_file** file);

/* Ends the handle, also when its pakfile has been closed. */
KESTRUM_API kestrum_status kestrum_file_close(kestrum_file* file);

KESTRUM_API kestrum_status kestrum_file_size(kestrum_file* file, uint64_t* size);

/* Reads up to count bytes from the read position into buffer and moves the
   position on by what was read. *bytes_read (required) is set on every
   return: fewer bytes than count with KESTRUM_OK means the end of the file.
   KESTRUM_ERR_IO: a block of the pakfile could not be read;
   KESTRUM_ERR_NOT_A_PAKFILE: the pakfile ends before the file's bytes do;
   the bytes before the failure were delivered, and the position moved past
   them. buffer may be NULL only when count is 0. */
KESTRUM_API kestrum_status kestrum_file_read(kestrum_file* file, void* buffer, size_t count, size_t* bytes_read);

/* The same at offset from the start of the file, leaving the read position
   alone. An offset at or past the end reads 0 bytes. */
KESTRUM_API kestrum_status kestrum_file_read_at(kestrum_file* file, uint64_t offset, void* buffer, size_t count,
                                                size_t* bytes_read);

#define KESTRUM_SEEK_SET 0
#define KESTRUM_SEEK_CUR 1
#define KESTRUM_SEEK_END 2

/* Moves the read position to offset from the start (KESTRUM_SEEK_SET), the
   current position (_CUR) or the end (_END), and sets *position (which may
   be NULL) to the new one. A position past the end is allowed (reads give 0
   bytes there); below 0 or above 0xFFFFFFFF it is refused with
   KESTRUM_ERR_INVALID_ARGUMENT and the position stays. */
KESTRUM_API kestrum_status kestrum_file_seek(kestrum_file* file, int64_t offset, int32_t whence, uint64_t* position);
KESTRUM_API kestrum_status kestrum_file_tell(kestrum_file* file, uint64_t* position);

#ifdef __cplusplus
}
#endif

#endif
