"""Kestrum's pakfile reader runtime for Python, over the shared library.

    import kestrum

    kestrum.set_locale("fr")               # "--" (none) is the default
    with kestrum.open("data.pak") as pak:  # closes the pakfile at the end
        for entry in pak:                  # in data order
            print(entry.path, entry.size)
        with kestrum.open_file("Docs/ReadMe.txt") as f:
            head = f.read(100)             # a binary file object: read, seek, tell
        data = kestrum.read("docs/readme.txt")

Files are looked up in all open pakfiles, newest first, so a pakfile opened
later shadows the same path in earlier ones; any letter case and either
slash. Paths are bytes in a pakfile; they are given as str decoded from UTF-8
(bytes that are not UTF-8 come back as surrogates, and go back unchanged),
and str or bytes are accepted.

Every failure raises a KestrumError subclass whose `status` is the runtime's
reason code (the KESTRUM_* values of <kestrum/kestrum.h>).

Threads follow the runtime's rules: opening and closing pakfiles and setting
the locale must not overlap any other use; files may be read on several
threads at once, each file object on one thread at a time.

The library is found through the environment variable KESTRUM_LIBRARY (a
path), else where the installation put it, else beside this package, else by
the system's loader.
"""

import ctypes
import io
import os
import sys
from collections import namedtuple

__all__ = [
    "Entry", "File", "Pak", "KestrumError", "NotFoundError", "NotAPakfileError", "WrongLocaleError",
    "KestrumIOError", "NoMemoryError", "InvalidArgumentError", "InvalidHandleError",
    "set_locale", "open", "open_file", "read", "stat", "exists", "close_all",
]

OK = 0
NOT_FOUND = 1
NOT_A_PAKFILE = 2
WRONG_LOCALE = 3
IO = 4
NO_MEMORY = 5
INVALID_ARGUMENT = 6
INVALID_HANDLE = 7
BUFFER_TOO_SMALL = 8

_LIBRARY_NAME = "kestrum.dll" if sys.platform == "win32" else "libkestrum.so.1"


def _candidates():
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        from . import _installed
        yield os.path.normpath(os.path.join(here, _installed.LIBRARY_DIR, _installed.LIBRARY_NAME))
    except ImportError:
        pass
    yield os.path.join(here, _LIBRARY_NAME)
    yield _LIBRARY_NAME


def _load():
    override = os.environ.get("KESTRUM_LIBRARY")
    if override:
        return ctypes.CDLL(override)
    errors = []
    for candidate in _candidates():
        if os.path.sep in candidate and not os.path.exists(candidate):
            continue
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            errors.append(str(error))
    raise ImportError("kestrum: cannot load %s (%s)" % (_LIBRARY_NAME, "; ".join(errors) or "not found"))


class _OpenOptions(ctypes.Structure):
    _fields_ = [("block_kib", ctypes.c_uint32), ("stamp", ctypes.c_uint32), ("cache_path", ctypes.c_char_p),
                ("make_copy", ctypes.c_int32)]


_lib = _load()
_c_size_p = ctypes.POINTER(ctypes.c_size_t)
_c_u64_p = ctypes.POINTER(ctypes.c_uint64)
_SIGNATURES = {
    "kestrum_error_message": (ctypes.c_char_p, [ctypes.c_int]),
    "kestrum_version": (ctypes.c_char_p, []),
    "kestrum_set_locale": (ctypes.c_int, [ctypes.c_char_p]),
    "kestrum_pak_open_ex": (ctypes.c_int, [ctypes.c_char_p, ctypes.POINTER(_OpenOptions),
                                           ctypes.POINTER(ctypes.c_void_p), ctypes.c_char_p]),
    "kestrum_pak_close": (ctypes.c_int, [ctypes.c_void_p]),
    "kestrum_pak_close_all": (None, []),
    "kestrum_pak_entry_count": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint32)]),
    "kestrum_pak_entry": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_char_p, ctypes.c_size_t,
                                         _c_size_p, _c_u64_p]),
    "kestrum_stat": (ctypes.c_int, [ctypes.c_char_p, _c_u64_p]),
    "kestrum_file_open": (ctypes.c_int, [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]),
    "kestrum_file_close": (ctypes.c_int, [ctypes.c_void_p]),
    "kestrum_file_size": (ctypes.c_int, [ctypes.c_void_p, _c_u64_p]),
    "kestrum_file_read": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, _c_size_p]),
    "kestrum_file_read_at": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_uint64, ctypes.c_void_p, ctypes.c_size_t,
                                            _c_size_p]),
    "kestrum_file_seek": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_int64, ctypes.c_int32, _c_u64_p]),
}
for _name, (_result, _arguments) in _SIGNATURES.items():
    _function = getattr(_lib, _name)
    _function.restype = _result
    _function.argtypes = _arguments

__version__ = _lib.kestrum_version().decode("ascii")
if not __version__.startswith("1."):
    raise ImportError("kestrum: the library is version %s, this module needs 1.x" % __version__)


class KestrumError(Exception):
    """A failure of the runtime; `status` is its reason code."""

    status = None

    def __init__(self, message, status=None):
        super().__init__(message)
        if status is not None:
            self.status = status


class NotFoundError(KestrumError, FileNotFoundError):
    """No such pakfile, or no open pakfile holds the path."""
    status = NOT_FOUND


class NotAPakfileError(KestrumError):
    """Not a pakfile, or a damaged or cut-short one."""
    status = NOT_A_PAKFILE


class WrongLocaleError(KestrumError):
    """A sound pakfile built under another locale code; `built_locale` names it when it is two letters."""
    status = WRONG_LOCALE
    built_locale = None


class KestrumIOError(KestrumError, OSError):
    """The system could not open or read a file that is there."""
    status = IO


class NoMemoryError(KestrumError, MemoryError):
    status = NO_MEMORY


class InvalidArgumentError(KestrumError, ValueError):
    status = INVALID_ARGUMENT


class InvalidHandleError(KestrumError, ValueError):
    """The pakfile or file is closed, or the file's pakfile was closed."""
    status = INVALID_HANDLE


_ERRORS = {cls.status: cls for cls in (NotFoundError, NotAPakfileError, WrongLocaleError, KestrumIOError,
                                       NoMemoryError, InvalidArgumentError, InvalidHandleError)}


def _check(status, what=None):
    if status == OK:
        return
    message = _lib.kestrum_error_message(status).decode("ascii")
    if what is not None:
        message = "%s: %s" % (what, message)
    raise _ERRORS.get(status, KestrumError)(message, status)


def _encode(path):
    if isinstance(path, str):
        return path.encode("utf-8", "surrogateescape")
    if isinstance(path, bytes):
        return path
    return os.fsencode(path)


def _decode(raw):
    return raw.decode("utf-8", "surrogateescape")


Entry = namedtuple("Entry", "path size")
Entry.__doc__ = "One file of a pakfile: its stored path (lower case, '\\\\' between the parts) and its size."


def set_locale(code):
    """Sets the locale code for pakfiles opened afterwards: two characters such as "fr", or "--" for none."""
    _check(_lib.kestrum_set_locale(_encode(code)), "set_locale(%r)" % (code,))


class Pak:
    """An open pakfile; a context manager that closes it. Iterating gives its entries in data order."""

    def __init__(self, path, *, cache_path=None, stamp=0xFFFFFFFF, make_copy=False, block_kib=0):
        options = _OpenOptions(block_kib, stamp, None if cache_path is None else _encode(cache_path),
                               1 if make_copy else 0)
        handle = ctypes.c_void_p()
        built = ctypes.create_string_buffer(3)
        self._handle = None
        self.path = path
        status = _lib.kestrum_pak_open_ex(_encode(path), ctypes.byref(options), ctypes.byref(handle), built)
        if status == WRONG_LOCALE:
            error = WrongLocaleError("%s: %s" % (path, _lib.kestrum_error_message(status).decode("ascii")))
            error.built_locale = built.value.decode("ascii") or None
            raise error
        _check(status, str(path))
        self._handle = handle.value

    def close(self):
        """Closes the pakfile (finishing its cache copy); closing twice does nothing."""
        if self._handle is not None:
            handle, self._handle = self._handle, None
            status = _lib.kestrum_pak_close(handle)
            if status != INVALID_HANDLE:  # closed already, by close_all()
                _check(status)

    @property
    def closed(self):
        return self._handle is None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _live(self):
        if self._handle is None:
            raise InvalidHandleError("the pakfile is closed", INVALID_HANDLE)
        return self._handle

    def __len__(self):
        count = ctypes.c_uint32()
        _check(_lib.kestrum_pak_entry_count(self._live(), ctypes.byref(count)))
        return count.value

    def entry(self, index):
        """Entry `index` in data order."""
        handle = self._live()
        length = ctypes.c_size_t()
        size = ctypes.c_uint64()
        buffer = ctypes.create_string_buffer(256)
        status = _lib.kestrum_pak_entry(handle, index, buffer, len(buffer), ctypes.byref(length), ctypes.byref(size))
        if status == BUFFER_TOO_SMALL:
            buffer = ctypes.create_string_buffer(length.value + 1)
            status = _lib.kestrum_pak_entry(handle, index, buffer, len(buffer), ctypes.byref(length),
                                            ctypes.byref(size))
        _check(status)
        return Entry(_decode(buffer.raw[:length.value]), size.value)

    def __iter__(self):
        for index in range(len(self)):
            yield self.entry(index)

    def __repr__(self):
        return "<kestrum.Pak %r%s>" % (self.path, " closed" if self.closed else "")


def open(path, **options):  # noqa: A001 - kestrum.open, as tarfile.open or zipfile's
    """Opens a pakfile: kestrum.open(path, cache_path=None, stamp=0xFFFFFFFF, make_copy=False, block_kib=0)."""
    return Pak(path, **options)


class File(io.RawIOBase):
    """A file inside the open pakfiles, as a binary file object."""

    def __init__(self, path):
        super().__init__()
        handle = ctypes.c_void_p()
        self._handle = None
        self.name = path
        _check(_lib.kestrum_file_open(_encode(path), ctypes.byref(handle)), str(path))
        self._handle = handle.value

    def _live(self):
        if self._handle is None:
            raise ValueError("I/O operation on closed file")
        return self._handle

    def close(self):
        if self._handle is not None:
            handle, self._handle = self._handle, None
            _lib.kestrum_file_close(handle)
        super().close()

    def readable(self):
        return True

    def seekable(self):
        return True

    @property
    def size(self):
        size = ctypes.c_uint64()
        _check(_lib.kestrum_file_size(self._live(), ctypes.byref(size)))
        return size.value

    def readinto(self, buffer):
        view = memoryview(buffer).cast("B")
        if len(view) == 0:
            return 0
        target = (ctypes.c_char * len(view)).from_buffer(view)
        got = ctypes.c_size_t()
        _check(_lib.kestrum_file_read(self._live(), target, len(view), ctypes.byref(got)), self.name)
        return got.value

    def readall(self):
        remaining = max(self.size - self.tell(), 0)
        data = bytearray(remaining)
        got = self.readinto(data) if remaining else 0
        return bytes(data[:got])

    def read_at(self, offset, count):
        """Up to `count` bytes from `offset`, leaving the position alone."""
        data = bytearray(count)
        if count == 0:
            return b""
        target = (ctypes.c_char * count).from_buffer(data)
        got = ctypes.c_size_t()
        _check(_lib.kestrum_file_read_at(self._live(), offset, target, count, ctypes.byref(got)), self.name)
        return bytes(data[:got.value])

    def seek(self, offset, whence=io.SEEK_SET):
        position = ctypes.c_uint64()
        _check(_lib.kestrum_file_seek(self._live(), offset, whence, ctypes.byref(position)))
        return position.value

    def tell(self):
        return self.seek(0, io.SEEK_CUR)


def open_file(path):
    """Opens a file inside the open pakfiles (newest pakfile first) as a binary file object."""
    return File(path)


def read(path):
    """The whole of a file inside the open pakfiles, as bytes."""
    with File(path) as f:
        return f.read()


def stat(path):
    """The size of the file that open_file(path) would open; NotFoundError when no open pakfile holds it."""
    size = ctypes.c_uint64()
    _check(_lib.kestrum_stat(_encode(path), ctypes.byref(size)), str(path))
    return size.value


def exists(path):
    """Whether an open pakfile holds the path."""
    status = _lib.kestrum_stat(_encode(path), None)
    if status == NOT_FOUND:
        return False
    _check(status)
    return True


def close_all():
    """Closes every open pakfile."""
    _lib.kestrum_pak_close_all()
