#!/usr/bin/env python3
"""Times Kestrum against the tools a user would pick instead, side by side.

Makes three reproducible corpora (about 27,000 real small files copied from
/usr/include and /usr/share; four incompressible files of 256 MiB; 60,000
files of 0 to 200 bytes in a three-level tree), then times building, listing
and extracting with Kestrum, GNU tar, bsdtar, zip -0 / unzip and 7zz -mx0,
and the physical references (cat of every listed file into one file for
building, cat of the archive for listing, cp -R of the tree for extraction).

The page cache is warmed first and every output goes to a tmpfs. The tools
run alternately, one run each per round (A B A B ...), so that the machine's
noise spreads over all of them; the table shows medians, the ratios
Kestrum / fastest other tool and Kestrum / reference, and peak memory.
With --one-core every build and extraction is timed a second time with all
tools pinned to one core (taskset -c 0).

The "load" phase times asset loading as a game does it (bench/load_*.cc):
every file opened, read whole and closed, in data order or in a fixed
random order, by one or four threads, through the reader runtime, from the
loose files, and through PhysicsFS from a stored zip (the runtime both
through its C++ interface and through its C one); warm, and cold (the
page cache dropped before each run; needs root). Every route must deliver
the same bytes (checked once per corpus). The "syscalls" phase counts the
system calls of building and unpacking with strace -f -c, per file.

The "mount" phase times kestrum-mount against squashfuse (a squashfs image
made with mksquashfs -noI -noD -noF, so nothing is compressed) and
archivemount (an uncompressed tar) on the same tree: find over the mount,
reading every file (tar to a pipe: GNU tar does not read files it archives
to /dev/null), and on the large corpus one 256 MiB file read whole (by dd
in 1 MiB reads, and by cat in 128 KiB ones), its first and its last 64 MiB. The images lie on the tmpfs, warm; every timed
run gets a fresh mount (mounting untimed, but timed once in a row of its
own), so each run reads through the file system and not the kernel's cache
of it. Before timing, every file's bytes are compared across the three
mounts. Needs a usable /dev/fuse. With "syscalls" among the phases as well,
the system calls of each mounter's file system process are counted for
every job (strace -f -c, one untimed run each, the calls of mounting and
unmounting alone taken off): counts, unlike times, hold on a busy machine.
"""
import argparse
import os
import random
import shlex
import shutil
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SETTLE_SECONDS = 0.5


def log(*args):
    print(*args, file=sys.stderr, flush=True)


# ---------------------------------------------------------------- corpora

def make_small(dest: Path, max_files=27000, max_bytes=400 << 20):
    """Real small files: headers and shared data, in a fixed order."""
    tree = dest / "tree"
    names = []
    total = 0
    for top in ("/usr/include", "/usr/share"):
        for dirpath, dirnames, filenames in os.walk(top):
            dirnames.sort()
            for f in sorted(filenames):
                src = Path(dirpath) / f
                rel = src.relative_to("/usr")
                text = str(rel)
                if (not src.is_file() or src.is_symlink() or "\\" in text or "\n" in text or "\r" in text
                        or text.startswith("*") or not text.isascii()):
                    continue
                size = src.stat().st_size
                if size == 0 or size > 4 << 20 or total + size > max_bytes:
                    continue
                names.append(text)
                total += size
                if len(names) >= max_files:
                    break
            if len(names) >= max_files:
                break
    # Paths that fold to the same lower-case name would be one entry twice.
    seen, unique = set(), []
    for n in names:
        if n.lower() not in seen:
            seen.add(n.lower())
            unique.append(n)
    for n in unique:
        target = tree / n
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile("/usr/" + n, target)
    return unique


def make_large(dest: Path, files=4, size=256 << 20):
    tree = dest / "tree"
    tree.mkdir(parents=True, exist_ok=True)
    names = []
    for i in range(files):
        rng = random.Random(1000 + i)
        name = f"blob{i}.bin"
        with open(tree / name, "wb") as f:
            for _ in range(size // (16 << 20)):
                f.write(rng.randbytes(16 << 20))
        names.append(name)
    return names


def make_tiny(dest: Path, files=60000):
    tree = dest / "tree"
    rng = random.Random(7)
    names = []
    for i in range(files):
        a, b = i % 20, (i // 20) % 50
        name = f"region_{a:02d}/sector_{a:02d}_{b:02d}/object_entity_{i:05d}.dat"
        names.append(name)
        p = tree / name
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(rng.randbytes(rng.randrange(201)))
    return names


CORPORA = {"small": make_small, "large": make_large, "tiny": make_tiny}


def corpus(root: Path, name: str):
    dest = root / name
    listing = dest / "files.txt"
    if not listing.exists():
        log(f"making corpus {name} in {dest}")
        shutil.rmtree(dest, ignore_errors=True)
        dest.mkdir(parents=True)
        names = CORPORA[name](dest)
        listing.write_text("".join(n + "\n" for n in names))
    return dest


# ---------------------------------------------------------------- running

def run(cmd, cwd):
    """Runs a shell command; returns (seconds, peak RSS in KiB).

    The command runs under /usr/bin/time, a small process, so that the peak
    memory is the command's own and not inherited from this interpreter.
    """
    rss_file = Path("/dev/shm/kestrum-bench-rss")
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(rss_file), "sh", "-c", cmd], cwd=cwd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.perf_counter() - start
    if proc.returncode != 0:
        raise RuntimeError(f"`{cmd}` exited {proc.returncode}: {proc.stderr.decode(errors='replace').strip()[:400]}")
    rss = int(rss_file.read_text().split()[-1])
    return seconds, rss


def warm(tree: Path):
    subprocess.run(f"find . -type f -print0 | xargs -0 cat > /dev/null", cwd=tree, shell=True, check=True)


def measure(tools, cwd, rounds, prepare):
    """tools: {name: command}. prepare(name) runs before each run, untimed."""
    times = {t: [] for t in tools}
    rss = {t: 0 for t in tools}
    for _ in range(rounds):
        for name, cmd in tools.items():
            prepare(name)
            # Removing the previous run's output leaves the kernel freeing
            # pages and inodes for a moment; let that finish before timing.
            time.sleep(SETTLE_SECONDS)
            s, m = run(cmd, cwd)
            times[name].append(s)
            rss[name] = max(rss[name], m)
    return {t: statistics.median(v) for t, v in times.items()}, rss


def table(title, medians, rss, kestrum, reference):
    others = [t for t in medians if t not in (kestrum, reference)]
    fastest = min(others, key=lambda t: medians[t])
    lines = [f"### {title}", "", "| tool | median s | peak RSS MiB |", "|---|---:|---:|"]
    for t in medians:
        lines.append(f"| {t} | {medians[t]:.3f} | {rss[t] / 1024:.1f} |")
    lines.append("")
    lines.append(f"Kestrum / fastest other ({fastest}): **{medians[kestrum] / medians[fastest]:.2f}**; "
                 f"Kestrum / reference ({reference}): **{medians[kestrum] / medians[reference]:.2f}**")
    lines.append("")
    return "\n".join(lines)


def pinned(tools):
    return {name: f"taskset -c 0 sh -c {shlex.quote(cmd)}" for name, cmd in tools.items()}


def bench_corpus(name, root, out, kestrum, rounds, phases, one_core):
    src = corpus(root, name)
    tree = src / "tree"
    warm(tree)
    lst = src / "files.txt"
    arch = out / "archives"
    report = []

    def clean(path):
        shutil.rmtree(path, ignore_errors=True)
        path.mkdir(parents=True)

    if "build" in phases:
        build = {
            "kestrum -a": f"{kestrum} -- -a {lst} {arch}/k.pak",
            "GNU tar": f"tar -cf {arch}/t.tar -T {lst}",
            "bsdtar": f"bsdtar -cf {arch}/b.tar -T {lst}",
            "zip -0": f"zip -0 -q {arch}/z.zip -@ < {lst}",
            "7zz -mx0": f"7zz a -bd -bso0 -mx0 {arch}/s.7z @{lst}",
            "cat (reference)": f"xargs -d '\\n' cat < {lst} > {arch}/cat.bin",
        }
        clean(arch)
        med, rss = measure(build, tree, rounds, lambda t: [p.unlink() for p in arch.glob("*")])
        report.append(table(f"{name}: building", med, rss, "kestrum -a", "cat (reference)"))
        if one_core:
            med, rss = measure(pinned(build), tree, rounds, lambda t: [p.unlink() for p in arch.glob("*")])
            report.append(table(f"{name}: building, one core", med, rss, "kestrum -a", "cat (reference)"))
    # Archives for listing and extraction, made once.
    clean(arch)
    for cmd in (f"{kestrum} -- -a {lst} {arch}/k.pak", f"tar -cf {arch}/t.tar -T {lst}",
                f"zip -0 -q {arch}/z.zip -@ < {lst}", f"7zz a -bd -bso0 -mx0 {arch}/s.7z @{lst}"):
        run(cmd, tree)
    if "list" in phases:
        listing = {
            "kestrum -l": f"{kestrum} -- -l {arch}/k.pak",
            "GNU tar": f"tar -tf {arch}/t.tar",
            "bsdtar": f"bsdtar -tf {arch}/t.tar",
            "unzip -l": f"unzip -l {arch}/z.zip",
            "7zz l": f"7zz l {arch}/s.7z",
            "cat (reference)": f"cat {arch}/k.pak",
        }
        med, rss = measure(listing, out, rounds, lambda t: None)
        report.append(table(f"{name}: listing", med, rss, "kestrum -l", "cat (reference)"))
    if "extract" in phases:
        dest = out / "x"
        extract = {
            "kestrum -x": f"{kestrum} -- -x {arch}/k.pak {dest}",
            "GNU tar": f"tar -xf {arch}/t.tar -C {dest}",
            "bsdtar": f"bsdtar -xf {arch}/t.tar -C {dest}",
            "unzip": f"unzip -q {arch}/z.zip -d {dest}",
            "7zz x": f"7zz x -bd -bso0 {arch}/s.7z -o{dest}",
            "cp -R (reference)": f"cp -R {tree}/. {dest}",
        }
        med, rss = measure(extract, out, rounds, lambda t: clean(dest))
        report.append(table(f"{name}: extraction", med, rss, "kestrum -x", "cp -R (reference)"))
        if one_core:
            med, rss = measure(pinned(extract), out, rounds, lambda t: clean(dest))
            report.append(table(f"{name}: extraction, one core", med, rss, "kestrum -x", "cp -R (reference)"))
    if "syscalls" in phases:
        report.append(count_syscalls(name, tree, lst, arch, out, kestrum))
    shutil.rmtree(arch, ignore_errors=True)
    return "\n".join(report)


# ---------------------------------------------------------------- floor

def self_timed(cmd, cwd):
    """Runs a command that prints the seconds of its timed part alone."""
    proc = subprocess.run(["sh", "-c", cmd], cwd=cwd, capture_output=True, text=True)
    if proc.returncode != 0:
        raise RuntimeError(f"`{cmd}` exited {proc.returncode}: {proc.stderr.strip()[:400]}")
    return float(proc.stdout.split()[-1])


def bench_floor(name, root, out, kestrum, floor, rounds):
    src = corpus(root, name)
    tree, lst = src / "tree", src / "files.txt"
    warm(tree)
    arch, made, dest = out / "archives", out / "made", out / "x"
    for d in (arch, made, dest):
        shutil.rmtree(d, ignore_errors=True)
        d.mkdir(parents=True)
    run(f"{kestrum} -- -a {lst} {arch}/k.pak", tree)
    run(f"tar -cf {arch}/t.tar -T {lst}", tree)
    jobs = {
        "building": (tree, made, {
            "floor": f"{floor} read {lst} {made}/f.bin",
            "GNU tar": f"tar -cf {made}/t.tar -T {lst}",
            "kestrum": f"{kestrum} -- -a {lst} {made}/k.pak",
        }),
        "unpacking": (out, dest, {
            "floor": f"{floor} create {lst} {tree} {dest}",
            "GNU tar": f"tar -xf {arch}/t.tar -C {dest}",
            "kestrum": f"{kestrum} -- -x {arch}/k.pak {dest}",
        }),
    }
    lines = [f"### {name}: the kernel's floor, one core", "",
             "| job | floor s | GNU tar s | Kestrum s | floor / tar | Kestrum / tar | Kestrum / floor |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    for job, (cwd, target, tools) in jobs.items():
        times = {t: [] for t in tools}
        for _ in range(rounds):
            for tool, cmd in tools.items():
                shutil.rmtree(target, ignore_errors=True)
                target.mkdir()
                time.sleep(SETTLE_SECONDS)
                pinned_cmd = f"taskset -c 0 sh -c {shlex.quote(cmd)}"
                times[tool].append(self_timed(pinned_cmd, cwd) if tool == "floor" else run(pinned_cmd, cwd)[0])
        m = {t: statistics.median(v) for t, v in times.items()}
        lines.append(f"| {job} | {m['floor']:.3f} | {m['GNU tar']:.3f} | {m['kestrum']:.3f} | "
                     f"{m['floor'] / m['GNU tar']:.2f} | {m['kestrum'] / m['GNU tar']:.2f} | "
                     f"{m['kestrum'] / m['floor']:.2f} |")
    for d in (arch, made, dest):
        shutil.rmtree(d, ignore_errors=True)
    return "\n".join(lines + [""])


# ---------------------------------------------------------------- system calls

def strace_calls(cmd, cwd, out):
    """System calls of a command and its threads and children: the total,
    and how many of them were io_uring_enter."""
    trace = out / "strace.txt"
    subprocess.run(["strace", "-f", "-c", "-o", str(trace), "sh", "-c", cmd], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL)
    uring = 0
    for line in trace.read_text().splitlines():
        fields = line.split()
        if fields and fields[-1] == "io_uring_enter":
            uring = int(fields[3])
        if fields and fields[-1] == "total":
            return int(fields[3]), uring
    raise RuntimeError(f"no total in strace output of `{cmd}`")


def count_syscalls(name, tree, lst, arch, out, kestrum):
    files = sum(1 for line in lst.read_text().splitlines() if line)
    dest = out / "x"
    rows = []
    for title, tools in (
            ("building", {"kestrum -a": f"{kestrum} -- -a {lst} {arch}/k.pak",
                          "GNU tar": f"tar -cf {arch}/t.tar -T {lst}"}),
            ("unpacking", {"kestrum -x": f"{kestrum} -- -x {arch}/k.pak {dest}",
                           "GNU tar": f"tar -xf {arch}/t.tar -C {dest}"})):
        for tool, cmd in tools.items():
            shutil.rmtree(dest, ignore_errors=True)
            dest.mkdir(parents=True)
            # The shell that strace starts makes a few dozen calls of its own.
            calls, uring = strace_calls(cmd, tree, out)
            calls -= strace_calls("true", tree, out)[0]
            rows.append(f"| {title} | {tool} | {calls} | {calls / files:.2f} | {uring} |")
    shutil.rmtree(dest, ignore_errors=True)
    return "\n".join([f"### {name}: system calls ({files} files, strace -f -c)", "",
                      "| job | tool | calls | per file | of them io_uring_enter |", "|---|---|---:|---:|---:|",
                      *rows, "",
                      "Requests queued on an io_uring are not counted apart: each io_uring_enter that submits "
                      "a group of them counts once.", ""])


# ---------------------------------------------------------------- asset loading

LOAD_CELLS = [  # (cache, corpus, order, threads)
    ("warm", "small", "data", 1), ("warm", "small", "data", 4),
    ("warm", "small", "random", 1), ("warm", "small", "random", 4),
    ("warm", "tiny", "data", 1), ("warm", "tiny", "data", 4),
    ("warm", "tiny", "random", 1), ("warm", "tiny", "random", 4),
    ("cold", "small", "random", 1), ("cold", "small", "random", 4),
]


def drop_caches():
    subprocess.run(["sync"], check=True)
    Path("/proc/sys/vm/drop_caches").write_text("3\n")


def bench_load(root, kestrum, bench_dir, rounds, corpora):
    load_k = bench_dir / "kestrum_load_bench"
    load_p = bench_dir / "physfs_load_bench"
    can_drop = os.geteuid() == 0
    prepared = {}
    for name in sorted({c[1] for c in LOAD_CELLS if c[1] in corpora}):
        src = corpus(root, name)
        tree, lst, arch = src / "tree", src / "files.txt", src / "load"
        # On the same disk as the loose files, so that cold runs read all three from it.
        shutil.rmtree(arch, ignore_errors=True)
        arch.mkdir()
        run(f"{kestrum} -- -a {lst} {arch}/k.pak", tree)
        run(f"zip -0 -q {arch}/z.zip -@ < {lst}", tree)
        routes = {
            "Kestrum": f"{load_k} {lst} ORDER THREADS VERIFY kestrum {arch}/k.pak 64",
            "Kestrum, C interface": f"{load_k} {lst} ORDER THREADS VERIFY kestrum-c {arch}/k.pak 64",
            "loose files": f"{load_k} {lst} ORDER THREADS VERIFY loose {tree}",
            "PhysicsFS": f"{load_p} {lst} ORDER THREADS VERIFY {arch}/z.zip",
        }
        sums = {}
        for route, cmd in routes.items():
            line = subprocess.run(cmd.replace("ORDER", "random").replace("THREADS", "4").replace("VERIFY", "--verify"),
                                  shell=True, check=True, capture_output=True, text=True).stdout.split()
            sums[route] = tuple(line[1:3])
        if len(set(sums.values())) != 1:
            raise RuntimeError(f"routes delivered different bytes on {name}: {sums}")
        prepared[name] = (tree, routes)

    lines = [f"### Asset loading: every file opened, read whole and closed (medians of {rounds})", "",
             "| cache | corpus | order | threads | Kestrum | loose files | PhysicsFS | Kestrum / loose "
             "| Kestrum, 4 threads / 1 | C interface / C++ |",
             "|---|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    one_thread = {}
    for cache, name, order, threads in LOAD_CELLS:
        if name not in prepared:
            continue
        if cache == "cold" and not can_drop:
            lines.append(f"| cold | {name} | {order} | {threads} | (needs root to drop the page cache) | | | | | |")
            continue
        tree, routes = prepared[name]
        times = {r: [] for r in routes}
        for _ in range(rounds):
            for route, cmd in routes.items():
                if cache == "cold":
                    drop_caches()
                else:
                    warm(tree)
                    subprocess.run(f"cat {tree.parent}/load/* > /dev/null", shell=True, check=True)
                time.sleep(SETTLE_SECONDS / 5)
                out = subprocess.run(cmd.replace("ORDER", order).replace("THREADS", str(threads)).replace(
                    "VERIFY", ""), shell=True, check=True, capture_output=True, text=True).stdout.split()
                times[route].append(float(out[0]))
        med = {r: statistics.median(v) for r, v in times.items()}
        if threads == 1:
            one_thread[(cache, name, order)] = med["Kestrum"]
        scaling = ""
        if threads > 1 and (cache, name, order) in one_thread:
            scaling = f"{med['Kestrum'] / one_thread[(cache, name, order)]:.2f}"
        lines.append(f"| {cache} | {name} | {order} | {threads} | {med['Kestrum']:.3f} s | "
                     f"{med['loose files']:.3f} s | {med['PhysicsFS']:.3f} s | "
                     f"**{med['Kestrum'] / med['loose files']:.2f}** | {scaling} | "
                     f"{med['Kestrum, C interface'] / med['Kestrum']:.2f} |")
    lines.append("")
    lines.append("The pakfile is read with 64 KiB blocks; PhysicsFS with a 64 KiB buffer per file.")
    lines.append("")
    return "\n".join(lines)


# ---------------------------------------------------------------- mounting

MOUNTERS = ("kestrum-mount", "squashfuse", "archivemount")


def fuse_usable():
    return os.access("/dev/fuse", os.R_OK | os.W_OK) and shutil.which("fusermount3") is not None


def unmount(mountpoint: Path):
    if os.path.ismount(mountpoint):
        if subprocess.run(["fusermount3", "-u", str(mountpoint)], stderr=subprocess.DEVNULL).returncode != 0:
            subprocess.run(["fusermount3", "-u", "-z", str(mountpoint)], stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while os.path.ismount(mountpoint) and time.monotonic() < deadline:
        time.sleep(0.01)


def mount(cmd, mountpoint: Path):
    """Runs a mounter; returns the seconds until the tree is mounted."""
    start = time.perf_counter()
    proc = subprocess.run(cmd, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if proc.returncode != 0:
        raise RuntimeError(f"`{cmd}` exited {proc.returncode}: {proc.stderr.decode(errors='replace').strip()[:400]}")
    while not os.path.ismount(mountpoint):
        if time.perf_counter() - start > 300:
            raise RuntimeError(f"`{cmd}` did not mount {mountpoint}")
        time.sleep(0.005)
    return time.perf_counter() - start


def tree_digest(root: Path, sample=None):
    """{lower-case path: (size, SHA-256 of the bytes)} of every file below
    root. With `sample`, only the paths in it are read (the rest show their
    size and no digest)."""
    import hashlib
    digest = {}
    for dirpath, _, filenames in os.walk(root):
        for f in filenames:
            p = Path(dirpath) / f
            key = str(p.relative_to(root)).lower()
            if sample is not None and key not in sample:
                digest[key] = (p.stat().st_size, None)
                continue
            h = hashlib.sha256()
            with open(p, "rb") as stream:
                for chunk in iter(lambda: stream.read(1 << 20), b""):
                    h.update(chunk)
            digest[key] = (p.stat().st_size, h.hexdigest())
    return digest


def same_trees(full, partial):
    """Whether `partial` (a sampled digest) agrees with `full` everywhere it
    says anything: the same paths and sizes, and the same bytes where read."""
    return full.keys() == partial.keys() and all(
        full[k][0] == partial[k][0] and (partial[k][1] is None or full[k][1] == partial[k][1]) for k in full)


# A mounter whose timed job takes longer than this is stopped there, shown as
# "> N s", and not timed on that job again: archivemount reads the tar from
# its start for every file it opens, so it needs minutes where the others
# need a second.
MOUNT_JOB_LIMIT = 30.0


def run_limited(cmd, cwd, limit):
    """Runs a shell command; returns its seconds, or None when it was stopped
    after `limit` seconds."""
    start = time.perf_counter()
    proc = subprocess.Popen(["sh", "-c", cmd], cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            start_new_session=True)
    try:
        _, err = proc.communicate(timeout=limit)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        return None
    seconds = time.perf_counter() - start
    if proc.returncode != 0:
        raise RuntimeError(f"`{cmd}` exited {proc.returncode}: {err.decode(errors='replace').strip()[:400]}")
    return seconds


def daemon_calls(cmd, mountpoint: Path, job, out):
    """System calls of a mounter's file system process, run in the foreground
    under strace -f -c, from its start through `job` to its unmount."""
    trace = out / "mount-strace.txt"
    program, rest = cmd.split(" ", 1)
    proc = subprocess.Popen(["strace", "-f", "-c", "-o", str(trace), "sh", "-c", f"exec {program} -f {rest}"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 300
        while not os.path.ismount(mountpoint):
            if proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"`{cmd}` did not mount {mountpoint} under strace")
            time.sleep(0.01)
        run(job, out)
    finally:
        unmount(mountpoint)
        proc.wait(timeout=300)
    for line in trace.read_text().splitlines():
        fields = line.split()
        if fields and fields[-1] == "total":
            return int(fields[3])
    raise RuntimeError(f"no total in strace output of `{cmd}`")


def bench_mount(name, root, out, kestrum, mounter, rounds, count_calls=False):
    src = corpus(root, name)
    tree, lst = src / "tree", src / "files.txt"
    warm(tree)
    images = out / "mount-images"
    shutil.rmtree(images, ignore_errors=True)
    images.mkdir(parents=True)
    # archivemount shows the files of a directory below one of the same name
    # ("html/html/index.html") one level up, so such paths stay out of all
    # three images.
    names = lst.read_text().splitlines()
    left_out = [n for n in names if any(a == b for a, b in zip(n.split("/"), n.split("/")[1:]))]
    lst = images / "files.txt"
    kept = set(names) - set(left_out)
    lst.write_text("".join(n + "\n" for n in names if n in kept))
    (images / "left-out.txt").write_text("".join(n + "\n" for n in left_out))
    run(f"{kestrum} -- -a {lst} {images}/k.pak", tree)
    run(f"mksquashfs . {images}/s.sqfs -noI -noD -noF -noappend -no-progress -ef {images}/left-out.txt", tree)
    run(f"tar -cf {images}/t.tar -T {lst}", tree)
    for f in ("files.txt", "left-out.txt"):
        (images / f).unlink()
    points = {m: out / f"mnt-{m}" for m in MOUNTERS}
    commands = {
        "kestrum-mount": f"{mounter} -- {images}/k.pak {points['kestrum-mount']}",
        "squashfuse": f"squashfuse {images}/s.sqfs {points['squashfuse']}",
        "archivemount": f"archivemount -o readonly {images}/t.tar {points['archivemount']}",
    }
    ops = {"find": "find {m} > /dev/null",
           "read every file (tar to a pipe)": "tar -cf - -C {m} . | cat > /dev/null"}
    sizes = {}
    if name == "large":
        ops["256 MiB file, whole"] = "dd if={m}/blob0.bin of=/dev/null bs=1M status=none"
        ops["the same, by cat (128 KiB reads)"] = "cat {m}/blob0.bin > /dev/null"
        ops["its first 64 MiB"] = "dd if={m}/blob0.bin of=/dev/null bs=1M count=64 status=none"
        ops["its last 64 MiB"] = "dd if={m}/blob0.bin of=/dev/null bs=1M skip=192 status=none"
        sizes = {"256 MiB file, whole": 256, "the same, by cat (128 KiB reads)": 256, "its first 64 MiB": 64,
                 "its last 64 MiB": 64}
    times = {op: {m: [] for m in MOUNTERS} for op in ["mount", *ops]}
    try:
        for point in points.values():
            point.mkdir(parents=True, exist_ok=True)
            unmount(point)
        # Every byte through kestrum-mount and squashfuse; through archivemount
        # every path and size, and the bytes of a fixed sample of files.
        digests = {}
        for m in MOUNTERS:
            sample = None
            if m == "archivemount":
                small = sorted(k for k, (size, _) in digests["kestrum-mount"].items() if size <= 1 << 20)
                sample = set(random.Random(1).sample(small, min(200, len(small))))
            mount(commands[m], points[m])
            digests[m] = tree_digest(points[m], sample)
            unmount(points[m])
        if digests["kestrum-mount"] != digests["squashfuse"] or not same_trees(digests["kestrum-mount"],
                                                                                digests["archivemount"]):
            raise RuntimeError(f"the mounts of {name} show different trees or bytes")
        stopped = {}  # (job, mounter) -> the limit it ran into
        for _ in range(rounds):
            for op, cmd in ops.items():
                for m in MOUNTERS:
                    if (op, m) in stopped:
                        continue
                    subprocess.run(f"cat {images}/* > /dev/null", shell=True, check=True)
                    time.sleep(SETTLE_SECONDS / 5)
                    times["mount"][m].append(mount(commands[m], points[m]))
                    seconds = run_limited(cmd.format(m=points[m]), out, MOUNT_JOB_LIMIT)
                    if seconds is None:
                        stopped[(op, m)] = MOUNT_JOB_LIMIT
                        times[op][m] = [MOUNT_JOB_LIMIT]
                    else:
                        times[op][m].append(seconds)
                    unmount(points[m])
        calls = {}
        if count_calls:
            # Counted once per job and mounter: the calls of a run that only
            # mounts and unmounts are taken off. archivemount needs minutes
            # to read thousands of files (it spends them reading through the
            # tar over and over), under strace far longer: it is counted only
            # on corpora of a few small files.
            total = sum(size for size, _ in digests["kestrum-mount"].values())
            counted = [m for m in MOUNTERS if m != "archivemount" or (len(digests[m]) <= 100 and total <= 64 << 20)]
            for m in counted:
                idle = daemon_calls(commands[m], points[m], "true", out)
                calls[m] = {op: daemon_calls(commands[m], points[m], cmd.format(m=points[m]), out) - idle
                            for op, cmd in ops.items()}
    finally:
        for point in points.values():
            unmount(point)
        shutil.rmtree(images, ignore_errors=True)
    med = {op: {m: statistics.median(v) for m, v in per.items()} for op, per in times.items()}
    lines = [f"### {name}: through the mount ({len(digests['kestrum-mount'])} files; medians of {rounds}, "
             f"a fresh mount per run)", "",
             "| job | " + " | ".join(MOUNTERS) + " | kestrum-mount / fastest other |",
             "|---|" + "---:|" * (len(MOUNTERS) + 1)]
    for op, per in med.items():
        cells = []
        for m in MOUNTERS:
            if (op, m) in stopped:
                cell = f"> {stopped[(op, m)]:.0f} s (stopped)"
            else:
                cell = f"{per[m]:.3f} s"
                if op in sizes:
                    cell += f" ({sizes[op] / 1024 / per[m]:.2f} GiB/s)"
            cells.append(cell)
        # A stopped job counts with its limit, less than it would have taken:
        # the ratio can only come out higher than the true one.
        fastest = min(per[m] for m in MOUNTERS[1:])
        lines.append(f"| {op} | " + " | ".join(cells) + f" | **{per['kestrum-mount'] / fastest:.2f}** |")
    lines.append("")
    if stopped:
        lines += [f"A job stopped after {MOUNT_JOB_LIMIT:.0f} s was timed once; archivemount's bytes were "
                  "checked on a sample of 200 files.", ""]
    if calls:
        lines += [f"### {name}: system calls of the file system process per job (strace -f -c, one run each)", "",
                  "| job | " + " | ".join(MOUNTERS) + " |", "|---|" + "---:|" * len(MOUNTERS)]
        for op in ops:
            lines.append(f"| {op} | " + " | ".join(str(calls[m][op]) if m in calls else "not counted"
                                                  for m in MOUNTERS) + " |")
        lines.append("")
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--kestrum", default=str(ROOT / "build-release/src/driver/kestrum"))
    ap.add_argument("--corpora", default="/var/tmp/kestrum-bench", help="where the corpora are made and kept")
    ap.add_argument("--out", default="/dev/shm/kestrum-bench-out", help="a tmpfs for every output")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--only", nargs="*", default=list(CORPORA), choices=list(CORPORA))
    ap.add_argument("--phases", nargs="*", default=["build", "list", "extract"],
                    choices=["build", "list", "extract", "syscalls", "floor", "load", "mount"])
    ap.add_argument("--one-core", action="store_true", help="also time building and extraction on one core")
    ap.add_argument("--bench-dir", default=str(ROOT / "build-release/bench"), help="where the load benchmarks are")
    ap.add_argument("--mounter", default=str(ROOT / "build-release/src/mount/kestrum-mount"),
                    help="kestrum-mount, for the mount phase")
    ap.add_argument("--report", default=str(ROOT / "build-release/bench-report.md"))
    args = ap.parse_args()

    root, out = Path(args.corpora), Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    parts = [f"## Kestrum against the alternatives ({time.strftime('%Y-%m-%d %H:%M')}, {os.cpu_count()} cores, "
             f"medians of {args.rounds} alternating runs)", ""]
    tool_phases = [p for p in args.phases if p not in ("floor", "load", "mount")]
    for name in args.only if tool_phases else []:
        log(f"== {name}")
        parts.append(bench_corpus(name, root, out, args.kestrum, args.rounds, tool_phases, args.one_core))
    if "floor" in args.phases:
        for name in args.only:
            log(f"== {name}: floor")
            parts.append(bench_floor(name, root, out, args.kestrum, Path(args.bench_dir) / "kestrum_floor_bench",
                                     args.rounds))
    if "load" in args.phases:
        log("== asset loading")
        parts.append(bench_load(root, args.kestrum, Path(args.bench_dir), args.rounds, args.only))
    if "mount" in args.phases:
        if not fuse_usable():
            parts.append("### Mounting: not timed (/dev/fuse cannot be used here, or fusermount3 is missing)\n")
        for name in args.only if fuse_usable() else []:
            log(f"== {name}: mounted")
            parts.append(bench_mount(name, root, out, args.kestrum, args.mounter, args.rounds,
                                     count_calls="syscalls" in args.phases))
    shutil.rmtree(out, ignore_errors=True)
    text = "\n".join(parts)
    print(text)
    Path(args.report).write_text(text + "\n")


if __name__ == "__main__":
    main()
