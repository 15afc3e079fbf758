"""The Python module over the shared library: pakfiles as context managers,
entries, whole and partial reads, seeks, and failures as exceptions that
carry the runtime's reason. Pakfiles are built by the kestrum tool
(KESTRUM_TOOL); the module loads the library named by KESTRUM_LIBRARY."""
import io
import os
import subprocess
import sys

import pytest

import kestrum

TOOL = os.environ["KESTRUM_TOOL"]
EXAMPLE = os.environ.get("KESTRUM_EXAMPLE")

FILES = {
    "Data/A.txt": b"0123456789",
    "data/empty.txt": b"",
    "data/sub/big.bin": bytes((i * 7 + i // 256) % 256 for i in range(200000)),
    "readme": b"readme\n",
}


def build(directory, name, files, locale="--"):
    for path, data in files.items():
        target = directory / path
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
    (directory / "list.txt").write_bytes(b"".join(p.encode() + b"\n" for p in files))
    # The tool is a program of its own: what a sanitized build preloads into
    # Python for the library is not for it.
    environment = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run([TOOL, locale, "-a", "list.txt", name], cwd=directory, check=True, stdout=subprocess.DEVNULL,
                   env=environment)
    return str(directory / name)


@pytest.fixture(autouse=True)
def fresh_runtime():
    yield
    kestrum.close_all()
    kestrum.set_locale("--")


@pytest.fixture
def pak_path(tmp_path):
    return build(tmp_path, "sample.pak", FILES)


def test_entries_come_in_data_order_with_sizes(pak_path):
    with kestrum.open(pak_path) as pak:
        assert len(pak) == 4
        assert list(pak) == [("data\\a.txt", 10), ("data\\empty.txt", 0), ("data\\sub\\big.bin", 200000),
                             ("readme", 7)]
        assert pak.entry(2).path == "data\\sub\\big.bin"
        with pytest.raises(kestrum.InvalidArgumentError):
            pak.entry(4)
    assert pak.closed
    pak.close()  # twice is harmless
    with pytest.raises(kestrum.InvalidHandleError):
        len(pak)


def test_reading_whole_in_pieces_and_at_offsets(pak_path):
    big = FILES["data/sub/big.bin"]
    with kestrum.open(pak_path):
        assert kestrum.read("DATA/a.TXT") == b"0123456789"
        assert kestrum.read("data\\empty.txt") == b""
        assert kestrum.stat("data/sub/big.bin") == len(big)
        assert kestrum.exists("readme") and not kestrum.exists("nothing")
        with kestrum.open_file("data/sub/big.bin") as f:
            assert isinstance(f, io.RawIOBase) and f.size == len(big)
            pieces = []
            while True:
                piece = f.read(65537)
                if not piece:
                    break
                pieces.append(piece)
            assert b"".join(pieces) == big
            assert f.seek(-10, io.SEEK_END) == len(big) - 10
            assert f.read() == big[-10:]
            assert f.seek(1000) == 1000 and f.read(5) == big[1000:1005] and f.tell() == 1005
            assert f.read_at(150000, 20) == big[150000:150020] and f.tell() == 1005
            with pytest.raises(kestrum.InvalidArgumentError):
                f.seek(-1)
            buffered = io.BufferedReader(f)
            assert buffered.read(3) == big[1005:1008]
        assert f.closed
        with pytest.raises(ValueError):
            f.read(1)


def test_failures_carry_their_reason(tmp_path, pak_path):
    with pytest.raises(kestrum.NotFoundError) as missing:
        kestrum.open(str(tmp_path / "missing.pak"))
    assert missing.value.status == kestrum.NOT_FOUND and isinstance(missing.value, FileNotFoundError)
    with pytest.raises(kestrum.NotAPakfileError):
        kestrum.open(str(tmp_path))
    (tmp_path / "junk.pak").write_bytes(b"x" * 5000)
    with pytest.raises(kestrum.NotAPakfileError) as junk:
        kestrum.open(str(tmp_path / "junk.pak"))
    assert junk.value.status == kestrum.NOT_A_PAKFILE
    with pytest.raises(kestrum.NotFoundError):
        kestrum.open_file("data/a.txt")  # no pakfile open
    with pytest.raises(kestrum.InvalidArgumentError):
        kestrum.set_locale("french")

    fr = build(tmp_path / "fr", "fr.pak", {"x.txt": b"x"}, locale="fr")
    with pytest.raises(kestrum.WrongLocaleError) as wrong:
        kestrum.open(fr)
    assert wrong.value.built_locale == "fr" and wrong.value.status == kestrum.WRONG_LOCALE
    kestrum.set_locale("FR")
    with kestrum.open(fr):
        assert kestrum.read("x.txt") == b"x"


def test_later_pakfiles_shadow_earlier_ones_and_closing_ends_files(tmp_path, pak_path):
    patch = build(tmp_path / "patch", "patch.pak", {"data/a.txt": b"patched"})
    base = kestrum.open(pak_path)
    with kestrum.open(patch):
        assert kestrum.read("data/a.txt") == b"patched"
        f = kestrum.open_file("data/a.txt")
    assert kestrum.read("data/a.txt") == b"0123456789"
    with pytest.raises(kestrum.InvalidHandleError):
        f.read(1)  # its pakfile is closed
    f.close()
    base.close()


def test_non_utf8_names_round_trip(tmp_path):
    path = build(tmp_path, "latin.pak", {"caf\xe9.txt": b"ok"})
    with kestrum.open(path) as pak:
        [entry] = list(pak)
        assert kestrum.read(entry.path) == b"ok"
        assert kestrum.read(entry.path.encode("utf-8", "surrogateescape")) == b"ok"


@pytest.mark.skipif(not EXAMPLE, reason="KESTRUM_EXAMPLE not set")
def test_the_example_lists_and_extracts(tmp_path, pak_path):
    out = subprocess.run([sys.executable, EXAMPLE, "--", pak_path, str(tmp_path / "out")], check=True,
                         capture_output=True, text=True).stdout
    assert out.splitlines() == ["%10d  %s" % (len(data), path.lower().replace("/", "\\"))
                                for path, data in FILES.items()]
    for path, data in FILES.items():
        assert (tmp_path / "out" / path.lower()).read_bytes() == data
