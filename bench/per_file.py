"""What a fetched file costs the updater, against what it costs the
platform's own URLDownloadToFileW, in one run on both targets under Wine
(the test builds in build/win-i686 and build/win-x86_64, from
scripts/test-all.sh).

For each target: 300 files of about 2 KB from the loopback test server
(which answers each request in one write, so no delayed acknowledgement is
the server's), fetched
  - by bench/BareFetch.cpp, a bare URLDownloadToFileW loop with no callback;
  - by the real qalUpdate.exe on an installation that has none of them, and
    again on one where all are current; the difference over 300 is the
    updater's cost a file.
Each measurement is taken five times (QAL_PER_FILE_REPEATS) and the median
kept.
  /usr/bin/python3 bench/per_file.py [--files N]"""
import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys

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

    files = {"f%04d.dat" % i: os.urandom(1500 + (i * 53) % 1000) for i in range(count)}
    lines = ["<update version='bench'>"] + ["<file path='%s' ver='%s'/>" % (p, hashlib.md5(d).hexdigest().upper())
                                             for p, d in files.items()] + ["</update>"]
    served = {BASE + "qupdater.xml": "\n".join(lines).encode()}
    served.update({BASE + "game/" + p: d for p, d in files.items()})
    root = qaltest.make_temp_dir("per-file-")
    install = os.path.join(root, "install")
    game = os.path.join(install, "game")
    os.makedirs(game)
    shutil.copy(os.path.join(tree, "updater", "qalUpdate.exe"), install)
    shutil.copy(os.path.join(tree, "tests", "updater", "PelMicroLauncher.exe"), game)
    line = qaltest.quote_arg(qaltest.win_path(os.path.join(install, "qalUpdate.exe"))) + \
        ' http://127.0.0.1:9/entergame.htm?bench "C:\\qalLogin.exe"'
    url_list = os.path.join(root, "urls.txt")
    with open(url_list, "w") as f:
        f.write("".join("http://127.0.0.1:%d%sgame/%s\n" % (PORTS[target], BASE, p) for p in files))
    bare_dir = os.path.join(root, "bare")
    os.makedirs(bare_dir)

    bare, full, current = [], [], []
    with qaltest.ResourceServer(port=PORTS[target], files=served):
        for _ in range(REPEATS):
            done = qaltest.run_windows(os.path.join(tree, "bench", "bare_fetch.exe"), qaltest.win_path(url_list),
                                       qaltest.win_path(bare_dir), timeout=600)
            if done.returncode != 0:
                raise SystemExit("bare_fetch failed: %s" % done.stdout)
            bare.append(float(done.stdout.decode().split()[-1]))
            for name in files:
                path = os.path.join(game, name)
                if os.path.exists(path):
                    os.remove(path)
            for runs in (full, current):
                report = qaltest.run_exact(line, cwd=root, timeout_ms=600000)
                if report["exit_code"] != 0 or report["boxes"]:
                    raise SystemExit("the updater did not end well: %s" % report)
                runs.append(report["elapsed_ms"])
    shutil.rmtree(root, ignore_errors=True)
    bare_ms = statistics.median(bare) / count
    updater_ms = (statistics.median(full) - statistics.median(current)) / count
    return bare_ms, updater_ms


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=300)
    parser.add_argument("--target", choices=sorted(PORTS), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.target:
        bare_ms, updater_ms = measure(args.target, args.files)
        print("%-7s bare URLDownloadToFileW %.2f ms a file, qalUpdate.exe %.2f ms a file: %.2fx"
              % (args.target, bare_ms, updater_ms, updater_ms / bare_ms), flush=True)
        return
    for target in sorted(PORTS):
        subprocess.run([sys.executable, os.path.abspath(__file__), "--target", target, "--files", str(args.files)],
                       check=True)


if __name__ == "__main__":
    main()
