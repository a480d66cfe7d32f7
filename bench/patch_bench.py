"""What binary patches save a player: a game of a few archives, one of
256 MiB, changed as a typical release changes them (1 % of the 4 KiB blocks
rewritten and 64 KiB inserted in the middle of each archive), published
by qalManifest once with --patch-from the older version and once without.
For each target, the real qalUpdate.exe (the test build in build/win-TARGET,
started straight under Wine) brings an installation of the older version
current from a loopback server that paces every answer at 20 Mbit/s (the
link most players have at least). Printed for each target and each
manifest: the bytes the server sent, the time from start to the micro-
client's start, and the updater's peak resident memory (VmHWM of its Wine
process; under user-mode emulation that includes the emulator's own).
The installation must end byte for byte current every time.
  /usr/bin/python3 bench/patch_bench.py [--archive-mib 256] [--mbit 20]
(after scripts/test-all.sh; about 6 minutes, most of it the whole-file runs)"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from process_memory import status_kib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASE = "/qal_lianyun/micro/"
PORTS = {"i686": 28461, "x86_64": 28462}
MIB = 1 << 20


def random_bytes(rng, size):
    return b"".join(rng.randbytes(min(MIB, size - i)) for i in range(0, size, MIB))


def changed(older, rng):
    """1 % of its 4 KiB blocks rewritten, 64 KiB inserted in the middle."""
    data = bytearray(older)
    blocks = len(data) // 4096
    for block in rng.sample(range(blocks), max(1, blocks // 100)):
        data[block * 4096:(block + 1) * 4096] = rng.randbytes(4096)
    middle = len(data) // 2
    return bytes(data[:middle]) + rng.randbytes(64 * 1024) + bytes(data[middle:])


def write_tree(directory, files):
    for path, data in files.items():
        full = os.path.join(directory, *path.split("\\"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)


def peak_kib(name, stop, peaks):
    """The updater's VmHWM, sampled until stop is set, into peaks."""
    while not stop.is_set():
        kib = status_kib(name, "VmHWM")
        if kib:
            peaks.append(kib)
        time.sleep(0.1)


def wine32_route():
    return subprocess.run(["bash", os.path.join(ROOT, "scripts", "setup-wine32.sh"), "--route"],
                          capture_output=True, text=True, check=True, timeout=600).stdout.strip()


def read_tree(directory):
    files = {}
    for d, _, names in os.walk(directory):
        for name in names:
            with open(os.path.join(d, name), "rb") as f:
                files[os.path.relpath(os.path.join(d, name), directory).replace(os.sep, "\\")] = f.read()
    return files


def measure(target, work, rate):
    """The runs of one target, in a process of its own: the test support
    takes its build tree from the environment when it is imported."""
    tree = os.path.join(ROOT, "build", "win-" + target)
    os.environ.update(QAL_BUILD_DIR=tree, QAL_SOURCE_DIR=ROOT, QAL_TARGET=target,
                      QAL_WINE_RUN=os.path.join(ROOT, "scripts", "wine-run.sh"))
    os.environ.pop("DISPLAY", None)
    sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
    import qaltest

    older = read_tree(os.path.join(work, "old"))
    newer = read_tree(os.path.join(work, "server", BASE.strip("/"), "game"))
    emulated = target == "i686" and wine32_route() == "emulated"
    results = {}
    for kind in ("whole files", "with patches"):
        with open(os.path.join(work, kind.replace(" ", "-") + ".xml"), "rb") as f:
            manifest = f.read()
        install = os.path.join(work, "install-" + target)
        shutil.rmtree(install, ignore_errors=True)
        write_tree(os.path.join(install, "game"), older)
        shutil.copy(os.path.join(tree, "updater", "qalUpdate.exe"), install)
        stop, peaks = threading.Event(), []
        sampler = threading.Thread(target=peak_kib, args=("qalUpdate.exe", stop, peaks), daemon=True)
        with qaltest.ResourceServer(port=PORTS[target], root=os.path.join(work, "server"),
                                    files={BASE + "qupdater.xml": manifest}) as server:
            server.default_mode = "paced"
            server.pace_bytes_per_second = rate
            sampler.start()
            started = time.monotonic()
            done = qaltest.run_windows(os.path.join(install, "qalUpdate.exe"), "http://127.0.0.1:9/entergame.htm?b",
                                       "C:\\qalLogin.exe", cwd=work, timeout=3600)
            elapsed = time.monotonic() - started
            stop.set()
            sampler.join()
            sent = server.bytes_sent
            requested = server.paths_requested()
        if done.returncode != 0:
            raise SystemExit("%s, %s: the updater ended with %d" % (target, kind, done.returncode))
        for path, data in newer.items():
            with open(os.path.join(install, "game", *path.split("\\")), "rb") as f:
                if f.read() != data:
                    raise SystemExit("%s, %s: %s is not current" % (target, kind, path))
        patches = len([p for p in requested if p.startswith(BASE + "patch/")])
        results[kind] = (sent, elapsed)
        print("%-7s%s %-12s sent %10d bytes (%7.2f MiB, %d patches), %6.1f s, peak memory %d MiB"
              % (target, " (emulated)" if emulated else "", kind, sent, sent / MIB, patches, elapsed,
                 (max(peaks) if peaks else 0) // 1024), flush=True)
        shutil.rmtree(install, ignore_errors=True)
    whole, patched = results["whole files"], results["with patches"]
    print("%-7s with patches: %.2f %% of the bytes, %.1fx faster" % (target, 100.0 * patched[0] / whole[0],
                                                                     whole[1] / patched[1]), flush=True)


def prepare(work, archive_mib):
    """The older and the newer game, and both manifests of the newer one."""
    rng = random.Random(2026)
    stub = os.path.join(ROOT, "build", "win-x86_64", "tests", "updater", "PelMicroLauncher.exe")
    with open(stub, "rb") as f:
        stub_bytes = f.read()
    older = {"data\\world.pak": random_bytes(rng, archive_mib * MIB),
             "data\\sound.pak": random_bytes(rng, 48 * MIB),
             "data\\ui.pak": random_bytes(rng, 8 * MIB),
             "config.ini": b"[game]\nversion=1\n",
             "PelMicroLauncher.exe": stub_bytes}
    newer = {p: changed(d, rng) if p.endswith(".pak") else d for p, d in older.items()}
    newer["config.ini"] = b"[game]\nversion=2\n"
    tool = os.path.join(ROOT, "build", "tools", "qalManifest", "qalManifest")
    write_tree(os.path.join(work, "old"), older)
    game = os.path.join(work, "server", BASE.strip("/"), "game")
    write_tree(game, newer)
    for kind, extra in (("whole files", []),
                        ("with patches", ["--patch-from", os.path.join(work, "old"),
                                          "--patch-dir", os.path.join(work, "server", BASE.strip("/"), "patch")])):
        started = time.monotonic()
        subprocess.run([tool, "build", game, "--version", "2", "-o",
                        os.path.join(work, kind.replace(" ", "-") + ".xml")] + extra, check=True,
                       stdout=subprocess.DEVNULL)
        print("qalManifest build, %s: %.1f s" % (kind, time.monotonic() - started), flush=True)
    patch_dir = os.path.join(work, "server", BASE.strip("/"), "patch")
    for name in sorted(os.listdir(patch_dir)):
        print("  patch %s: %d bytes" % (name, os.path.getsize(os.path.join(patch_dir, name))))
    print("game: %d files, %.1f MiB, of which %.1f MiB changed" % (
        len(newer), sum(len(d) for d in newer.values()) / MIB,
        sum(len(d) for p, d in newer.items() if older.get(p) != d) / MIB), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--archive-mib", type=int, default=256)
    parser.add_argument("--mbit", type=float, default=20)
    parser.add_argument("--target", choices=sorted(PORTS), action="append")
    parser.add_argument("--work", help=argparse.SUPPRESS)
    args = parser.parse_args()
    rate = args.mbit * 1e6 / 8
    if args.work:
        measure(args.target[0], args.work, rate)
        return
    # Inside the build tree, where Wine sees it at a stable path.
    work = tempfile.mkdtemp(prefix="patch-bench-", dir=os.path.join(ROOT, "build"))
    try:
        prepare(work, args.archive_mib)
        print("link: %.0f Mbit/s" % args.mbit, flush=True)
        for target in args.target or sorted(PORTS):
            subprocess.run([sys.executable, os.path.abspath(__file__), "--target", target, "--work", work,
                            "--mbit", str(args.mbit)], check=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
