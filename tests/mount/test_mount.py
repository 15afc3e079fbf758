"""kestrum-mount through FUSE: a base and a patch pakfile mounted together
show the merged tree, read right at any offset from several processes at
once, refuse every write with EROFS and unmount cleanly; pakfiles that cannot
be opened refuse the mount before anything is mounted.

Needs a usable /dev/fuse and fusermount3 (root in CI); skipped elsewhere.
Every mount is undone in a finally clause, whatever fails.
"""
import errno
import os
import random
import shutil
import subprocess
import time
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import pytest

MOUNT = os.environ.get("KESTRUM_MOUNT", "kestrum-mount")
TOOL = os.environ.get("KESTRUM_TOOL", "kestrum")


def fuse_unusable():
    if not os.path.exists("/dev/fuse"):
        return "there is no /dev/fuse"
    if not os.access("/dev/fuse", os.R_OK | os.W_OK):
        return "/dev/fuse cannot be opened by this user"
    if shutil.which("fusermount3") is None:
        return "fusermount3 is missing (apt-get install fuse3)"
    return None


REASON = fuse_unusable()
pytestmark = pytest.mark.skipif(REASON is not None, reason=f"kestrum-mount not tested: {REASON}")

BASE_MTIME, PATCH_MTIME = 1_000_000_000, 1_500_000_000
RANDOM = random.Random(15)
BASE = {  # list line -> bytes (None: the line names a file written under another name)
    "readme": b"base readme\n",
    "maps/level1/layout.map": RANDOM.randbytes(300_000),
    "maps/x.txt": b"base x",
    "Data/Empty.dat": b"",
    "docs/a.txt": b"a",
    "maps/../top.txt": None,  # stored with a '..' component: left out
    "docs//b.txt": None,  # stored with an empty component: left out
}
PATCH = {
    "maps/x.txt": b"patched x, longer",
    "sounds/new.wav": RANDOM.randbytes(70_000),
    "docs": b"a file where base has a directory",
}
# What the mount must show: base, then patch over it; the directory "docs"
# wins over patch's file of that name.
MERGED = {**{k.lower(): v for k, v in BASE.items() if v is not None}, "maps/x.txt": PATCH["maps/x.txt"],
          "sounds/new.wav": PATCH["sounds/new.wav"]}


def pack(dest: Path, name: str, files: dict, locale="--", mtime=None) -> Path:
    tree = dest / (name + ".tree")
    for line, data in files.items():
        target = tree / line
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data if data is not None else b"written under another name")
    (tree / "list.txt").write_text("".join(line + "\n" for line in files))
    pak = dest / name
    subprocess.run([TOOL, locale, "-a", "list.txt", str(pak)], cwd=tree, check=True, stdout=subprocess.DEVNULL)
    if mtime is not None:
        os.utime(pak, (mtime, mtime))
    return pak


def unmount(mountpoint: Path):
    if os.path.ismount(mountpoint):
        if subprocess.run(["fusermount3", "-u", str(mountpoint)]).returncode != 0:
            subprocess.run(["fusermount3", "-u", "-z", str(mountpoint)])


@pytest.fixture(scope="module")
def paks(tmp_path_factory):
    dest = tmp_path_factory.mktemp("paks")
    return (pack(dest, "base.pak", BASE, mtime=BASE_MTIME), pack(dest, "patch.pak", PATCH, mtime=PATCH_MTIME))


@pytest.fixture(scope="module")
def mounted(paks, tmp_path_factory):
    mountpoint = tmp_path_factory.mktemp("mnt")
    try:
        run = subprocess.run([MOUNT, "--", *map(str, paks), str(mountpoint)], capture_output=True, text=True,
                             timeout=60)
        assert run.returncode == 0, run.stdout + run.stderr
        # The command returns only once the mount is up.
        assert os.path.ismount(mountpoint)
        yield mountpoint, run.stdout
    finally:
        unmount(mountpoint)


def test_the_tree_is_base_with_patch_over_it(mounted, paks, tmp_path):
    mountpoint, output = mounted
    expected = tmp_path / "expected"
    for path, data in MERGED.items():
        (expected / path).parent.mkdir(parents=True, exist_ok=True)
        (expected / path).write_bytes(data)
    diff = subprocess.run(["diff", "-r", str(expected), str(mountpoint)], capture_output=True, text=True)
    assert diff.returncode == 0, diff.stdout + diff.stderr
    base, patch = paks
    assert output.splitlines() == [
        f"WARNING {base}: 'maps\\..\\top.txt' has a '..' component, left out",
        f"WARNING {base}: 'docs\\\\b.txt' has an empty component, left out",
        f"WARNING {patch}: file 'docs' left out, a directory of that name wins",
    ]
    # Modes, and each file's time from the pakfile that provides it.
    for path, mode, mtime in (("maps/x.txt", 0o100444, PATCH_MTIME), ("maps/level1/layout.map", 0o100444, BASE_MTIME),
                              ("data", 0o40555, PATCH_MTIME), (".", 0o40555, PATCH_MTIME)):
        st = os.stat(mountpoint / path)
        assert (st.st_mode, st.st_mtime) == (mode, mtime), path
    assert os.stat(mountpoint / "maps").st_nlink == 3
    fs = os.statvfs(mountpoint)
    assert fs.f_flag & os.ST_RDONLY
    assert fs.f_blocks * fs.f_frsize == os.path.getsize(base) + os.path.getsize(patch)


def read_slices(args):
    """Reads (path, offset, length) slices; returns those that came out wrong."""
    root, slices = args
    wrong = []
    for path, offset, length in slices:
        fd = os.open(os.path.join(root, path), os.O_RDONLY)
        try:
            got = os.pread(fd, length, offset)
        finally:
            os.close(fd)
        if got != MERGED[path][offset:offset + length]:
            wrong.append((path, offset, length))
    return wrong


def test_reads_at_odd_offsets_and_from_several_processes_at_once(mounted):
    mountpoint, _ = mounted
    big, wav = "maps/level1/layout.map", "sounds/new.wav"
    odd = [(big, offset, length) for offset in (0, 1, 2047, 4095, 65535, 65537, 131071, 299_999, 300_000, 400_000)
           for length in (1, 7, 4097, 70_000)]
    assert read_slices((str(mountpoint), odd)) == []
    rng = random.Random(3)
    jobs = []
    for _ in range(6):
        slices = []
        for _ in range(300):
            path = rng.choice([big, wav, "maps/x.txt", "readme", "data/empty.dat"])
            size = len(MERGED[path])
            offset = rng.randrange(size + 2)
            slices.append((path, offset, rng.choice([1, 100, 4096, 65536, 131072, 200_000])))
        jobs.append((str(mountpoint), slices))
    with ProcessPoolExecutor(max_workers=6) as pool:
        assert [w for wrong in pool.map(read_slices, jobs) for w in wrong] == []


def test_every_write_fails_with_erofs(mounted):
    mountpoint, _ = mounted
    attempts = [
        lambda: os.open(mountpoint / "readme", os.O_WRONLY),
        lambda: os.open(mountpoint / "new.txt", os.O_WRONLY | os.O_CREAT, 0o644),
        lambda: os.truncate(mountpoint / "readme", 0),
        lambda: os.mkdir(mountpoint / "maps/new"),
        lambda: os.unlink(mountpoint / "readme"),
        lambda: os.rename(mountpoint / "readme", mountpoint / "readme2"),
        lambda: os.symlink("readme", mountpoint / "link"),
        lambda: os.chmod(mountpoint / "readme", 0o644),
        lambda: os.setxattr(mountpoint / "readme", "user.x", b"1"),
    ]
    for i, attempt in enumerate(attempts):
        with pytest.raises(OSError) as failure:
            attempt()
        assert failure.value.errno == errno.EROFS, i
    assert (mountpoint / "readme").read_bytes() == MERGED["readme"]


def refused(args, mountpoint):
    run = subprocess.run([MOUNT, *map(str, args), str(mountpoint)], capture_output=True, text=True, timeout=60)
    mounted = os.path.ismount(mountpoint)
    unmount(mountpoint)
    assert not mounted
    assert run.returncode == 1, run.stdout + run.stderr
    return run.stdout


def test_pakfiles_that_cannot_be_opened_refuse_the_mount(paks, tmp_path):
    base, patch = paks
    mountpoint = tmp_path / "mnt"
    mountpoint.mkdir()
    damaged = tmp_path / "damaged.pak"
    image = bytearray(base.read_bytes())
    image[60] ^= 0x01  # a byte of the first directory record
    damaged.write_bytes(bytes(image))
    assert refused(["--", base, damaged], mountpoint) == (
        f"Bad Pakfile '{damaged}'\n  not a pakfile, or the pakfile is damaged\n")
    missing = tmp_path / "missing.pak"
    assert refused(["--", missing, patch, "-f"], mountpoint) == f"Bad Pakfile '{missing}'\n  not found\n"
    french = pack(tmp_path, "fr.pak", {"a.txt": b"a"}, locale="fr")
    assert refused(["de", french], mountpoint) == (
        f"Bad Pakfile '{french}'\n  the pakfile was built under another locale code ('fr')\n")
    assert refused(["french", french], mountpoint) == "Invalid locale 'french' specified!\n"


def test_a_foreground_mount_ends_cleanly_when_unmounted(paks, tmp_path):
    mountpoint = tmp_path / "mnt"
    mountpoint.mkdir()
    process = subprocess.Popen([MOUNT, "-f", "-o", "fsname=ignored", "FR", str(paks[1]), str(mountpoint)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 30
        while not os.path.ismount(mountpoint) and process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        assert os.path.ismount(mountpoint), process.communicate(timeout=5) if process.poll() is not None else ""
        assert (mountpoint / "sounds/new.wav").read_bytes() == PATCH["sounds/new.wav"]
        assert subprocess.run(["fusermount3", "-u", str(mountpoint)]).returncode == 0
        out, err = process.communicate(timeout=30)
        assert process.returncode == 0, out + err
        assert not os.path.ismount(mountpoint)
    finally:
        unmount(mountpoint)
        if process.poll() is None:
            process.kill()
            process.wait()


READS = {"small.bin": RANDOM.randbytes(3000), "page.bin": RANDOM.randbytes(4096),
         "big.bin": RANDOM.randbytes(5 * 2**20 + 12345)}


def bdi_read_ahead(mountpoint):
    st = os.stat(mountpoint)
    return int(Path(f"/sys/class/bdi/{os.major(st.st_dev)}:{os.minor(st.st_dev)}/read_ahead_kb").read_text())


def test_one_open_reads_small_and_large_files_whole_and_at_odd_offsets(tmp_path):
    """Every slice read through FUSE itself (the file's cached pages dropped
    before each), around page and 1 MiB request bounds and past the end; and
    as root the mount's read-ahead is raised so that the kernel sends 1 MiB
    requests."""
    pak = pack(tmp_path, "reads.pak", READS)
    mountpoint = tmp_path / "mnt"
    mountpoint.mkdir()
    log = tmp_path / "debug.log"
    with open(log, "w") as errors:
        process = subprocess.Popen([MOUNT, "-f", "-o", "debug", "--", str(pak), str(mountpoint)],
                                   stdout=subprocess.DEVNULL, stderr=errors)
    try:
        deadline = time.monotonic() + 30
        while not os.path.ismount(mountpoint) and process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        assert os.path.ismount(mountpoint), log.read_text()[-2000:]
        mib = 2**20
        for name, data in READS.items():
            n = len(data)
            fd = os.open(mountpoint / name, os.O_RDONLY)
            try:
                for offset in (0, 1, 2999, 4095, 4096, 4097, mib - 1, mib, mib + 1, 3 * mib + 7, n - 1, n, n + 5):
                    for length in (1, 4097, mib + 3, 3 * mib):
                        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
                        assert os.pread(fd, length, offset) == data[offset:offset + length], (name, offset, length)
                os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
                whole = b"".join(iter(lambda: os.read(fd, mib), b""))
                assert whole == data, name
            finally:
                os.close(fd)
        raised = bdi_read_ahead(mountpoint)
        assert subprocess.run(["fusermount3", "-u", str(mountpoint)]).returncode == 0
        assert process.wait(timeout=30) == 0
    finally:
        unmount(mountpoint)
        if process.poll() is None:
            process.kill()
            process.wait()
    replies = [int(line.split("outsize: ")[1]) for line in log.read_text().splitlines() if "success, outsize: " in line]
    if os.geteuid() == 0:
        assert raised == 1024
        assert max(replies) == 16 + mib  # a reply header and 1 MiB of data
