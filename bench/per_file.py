"""What a fetched file costs the updater, against what it costs the
platform's own URLDownloadToFileW, in one run on both targets under Wine
(the test builds in build/win-i686 and build/win-x86_64, from
scripts/test-all.sh).

For each target: files of about 2 KB from the loopback test server (which
answers each request in one write, so no delayed acknowledgement is the
server's), fetched
  - by bench/BareFetch.cpp, a bare URLDownloadToFileW loop with no callback,
    over N files and over 2N;
  - by the real qalUpdate.exe, started straight under Wine, on an
    installation that has none of them, with a manifest of N files and one
    of 2N, and once more with all N current.
A file's cost is the difference between the 2N and the N runs, over N: what
one more file adds, without what every run pays once whatever its size
(starting, the window, the micro-client). The updater's cost is also given
as the N-file run less the all-current one, over N, which keeps those.
Each measurement is taken five times (QAL_PER_FILE_REPEATS) and the median
kept, and each repeat's own ratio is printed beside it; N is 300 unless
--files says otherwise.
  /usr/bin/python3 bench/per_file.py [--files N]"""
import argparse
import glob
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASE = "/qal_lianyun/micro/"
REPEATS = int(os.environ.get("QAL_PER_FILE_REPEATS", "5"))
PORTS = {"i686": 28461, "x86_64": 28462}


def measure(target, count):
    tree = os.path.join(ROOT, "build", "win-" + target)
    os.environ.update(QAL_BUILD_DIR=tree, QAL_SOURCE_DIR=ROOT, QAL_TARGET=target,
                      QAL_WINE_RUN=os.path.join(ROOT, "scripts", "wine-run.sh"))
    os.environ.pop("DISPLAY", None)
    sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
    import qaltest

    def manifest(names):
        lines = ["<update version='bench'>"] + ["<file path='%s' ver='%s'/>" % (p, hashlib.md5(files[p]).hexdigest().upper())
                                                 for p in names] + ["</update>"]
        return "\n".join(lines).encode()

    files = {"f%04d.dat" % i: os.urandom(1500 + (i * 53) % 1000) for i in range(2 * count)}
    names = sorted(files)
    manifests = {count: manifest(names[:count]), 2 * count: manifest(names)}
    served = {BASE + "game/" + p: d for p, d in files.items()}
    root = qaltest.make_temp_dir("per-file-")
    install = os.path.join(root, "install")
    game = os.path.join(install, "game")
    os.makedirs(game)
    shutil.copy(os.path.join(tree, "updater", "qalUpdate.exe"), install)
    shutil.copy(os.path.join(tree, "tests", "updater", "PelMicroLauncher.exe"), game)
    updater = os.path.join(install, "qalUpdate.exe")
    url_lists = {}
    for size in manifests:
        url_lists[size] = os.path.join(root, "urls-%d.txt" % size)
        with open(url_lists[size], "w") as f:
            f.write("".join("http://127.0.0.1:%d%sgame/%s\n" % (PORTS[target], BASE, p) for p in names[:size]))
    bare_dir = os.path.join(root, "bare")
    os.makedirs(bare_dir)

    # Every run starts from an empty Internet cache: the bare loop leaves an
    # entry for each file it fetched (the updater removes its own), and a
    # cache that grows from run to run slows every run after it.
    caches = glob.glob(os.path.join(qaltest.wine_prefix(), "drive_c", "users", "*", "AppData", "Local",
                                    "Microsoft", "Windows", "INetCache"))

    def clear_cache():
        for cache in caches:
            shutil.rmtree(cache, ignore_errors=True)

    def clear_game():
        for name in names:
            path = os.path.join(game, name)
            if os.path.exists(path):
                os.remove(path)

    def run_updater(server, size):
        clear_cache()
        # Started straight under Wine, not through the test driver: the
        # driver looks at every window of the desktop twenty times a second,
        # a load on the Wine server that the bare loop does not carry. A box
        # would hold the run, so the timeout stands in for the driver's eyes.
        server.files[BASE + "qupdater.xml"] = manifests[size]
        started = time.monotonic()
        done = qaltest.run_windows(updater, "http://127.0.0.1:9/entergame.htm?bench", "C:\\qalLogin.exe",
                                   cwd=root, timeout=600)
        elapsed_ms = (time.monotonic() - started) * 1000
        if done.returncode != 0:
            raise SystemExit("the updater did not end well (%d): %s" % (done.returncode, done.stdout))
        return elapsed_ms

    bare = {count: [], 2 * count: []}
    full = {count: [], 2 * count: []}
    current = []
    with qaltest.ResourceServer(port=PORTS[target], files=served) as server:
        for _ in range(REPEATS):
            for size in bare:
                # Into an empty directory, as the updater's are: under Wine a
                # new name costs more as its directory fills.
                shutil.rmtree(bare_dir)
                os.makedirs(bare_dir)
                clear_cache()
                done = qaltest.run_windows(os.path.join(tree, "bench", "bare_fetch.exe"),
                                           qaltest.win_path(url_lists[size]), qaltest.win_path(bare_dir),
                                           timeout=600)
                if done.returncode != 0:
                    raise SystemExit("bare_fetch failed: %s" % done.stdout)
                bare[size].append(float(done.stdout.decode().split()[-1]))
            for size in full:
                clear_game()
                full[size].append(run_updater(server, size))
            current.append(run_updater(server, count))
    shutil.rmtree(root, ignore_errors=True)

    def marginal(runs):
        return (statistics.median(runs[2 * count]) - statistics.median(runs[count])) / count

    # The machine's speed drifts between repeats: each repeat's updater is
    # also set against that same repeat's bare loop, to show the spread.
    ratios = sorted((full[2 * count][i] - full[count][i]) / (bare[2 * count][i] - bare[count][i])
                    for i in range(REPEATS))
    return (marginal(bare), marginal(full), (statistics.median(full[count]) - statistics.median(current)) / count,
            ratios)


def wine32_route():
    """How this machine runs Wine's 32-bit side: "native", or "emulated"
    (user-mode emulation, where the kernel executes no 32-bit code), as
    scripts/setup-wine32.sh decided it."""
    return subprocess.run(["bash", os.path.join(ROOT, "scripts", "setup-wine32.sh"), "--route"],
                          capture_output=True, text=True, check=True, timeout=60).stdout.strip()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=300)
    parser.add_argument("--target", choices=sorted(PORTS), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.target:
        bare_ms, updater_ms, against_current_ms, ratios = measure(args.target, args.files)
        emulated = args.target == "i686" and wine32_route() == "emulated"
        print("%-7s%s bare URLDownloadToFileW %.2f ms a file, qalUpdate.exe %.2f ms a file: %.2fx"
              " (repeat by repeat %s; all %d fetched less all current: %.2f ms a file, %.2fx)"
              % (args.target, " (emulated i386: not a player's speed)" if emulated else "", bare_ms, updater_ms, updater_ms / bare_ms, " ".join("%.2f" % r for r in ratios),
                 args.files, against_current_ms, against_current_ms / bare_ms), flush=True)
        return
    for target in sorted(PORTS):
        subprocess.run([sys.executable, os.path.abspath(__file__), "--target", target, "--files", str(args.files)],
                       check=True)


if __name__ == "__main__":
    main()
