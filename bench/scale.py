"""The updater at scale, under Wine with the x86_64 test build: a manifest of
20,000 entries, of which 18,000 are current on disk and 2,000 small files are
fetched in one run. Reports the planning time, the time per fetched file in
the first and the last tenth (from the server's request times), and the
updater's resident memory over the run, sampled from /proc. Fails when the
last tenth is more than 20 % slower than the first or memory grows by more
than 20 %.
  /usr/bin/python3 bench/scale.py      (after scripts/test-all.sh)"""
import hashlib
import os
import shutil
import threading
import time

from process_memory import status_kib
from wine_bench import BASE, PORT, TREE_DIR, qaltest
CURRENT, FETCHED = 18000, 2000


def resident_kib(name="qalUpdate.exe"):
    """VmRSS of the Wine process running the updater, or None."""
    return status_kib(name, "VmRSS")


def main():
    root = qaltest.make_temp_dir("scale-")
    install = os.path.join(root, "Orvane Game")
    game = os.path.join(install, "game")
    os.makedirs(game)
    shutil.copy(os.path.join(TREE_DIR, "updater", "qalUpdate.exe"), install)
    shutil.copy(os.path.join(TREE_DIR, "tests", "updater", "PelMicroLauncher.exe"), game)
    entries, served = [], {}
    for i in range(CURRENT):
        path = "data\\d%03d\\current%05d.dat" % (i % 100, i)
        data = b"current %d " % i * (1 + i % 200)
        full = os.path.join(game, *path.split("\\"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        entries.append((path, hashlib.md5(data).hexdigest().upper()))
    for i in range(FETCHED):
        path = "new\\n%02d\\fetched%04d.dat" % (i % 50, i)
        data = os.urandom(1024 + (i * 37) % 3072)
        served[BASE + "game/" + path.replace("\\", "/")] = data
        entries.append((path, hashlib.md5(data).hexdigest().upper()))
    manifest = ["<?xml version='1.0'?>", "<update version='scale'>"]
    manifest += ["<file path='%s' ver='%s'/>" % e for e in entries]
    manifest.append("</update>")
    served[BASE + "qupdater.xml"] = "\n".join(manifest).encode()

    samples = []
    done = threading.Event()

    def sample():
        while not done.is_set():
            kib = resident_kib()
            if kib:
                samples.append((time.monotonic(), kib))
            time.sleep(0.25)

    line = qaltest.quote_arg(qaltest.win_path(os.path.join(install, "qalUpdate.exe"))) + \
        ' http://127.0.0.1:9/entergame.htm?scale "C:\\qalLogin.exe"'
    sampler = threading.Thread(target=sample)
    with qaltest.ResourceServer(port=PORT, files=served) as server:
        sampler.start()
        report = qaltest.run_exact(line, cwd=root, timeout_ms=1800000)
        done.set()
        sampler.join()
        times = [t for t, p in zip(server.request_times, server.requests) if p.startswith(BASE + "game/")]
        manifest_at = server.request_times[0]
    if report["exit_code"] != 0 or report["boxes"] or len(times) != FETCHED:
        raise SystemExit("the run did not end as it should: %d fetched, %s" % (len(times), report))
    tenth = FETCHED // 10
    gaps = [b - a for a, b in zip(times, times[1:])]
    first = sum(gaps[:tenth]) / tenth
    last = sum(gaps[-tenth:]) / tenth
    fetching = [kib for t, kib in samples if times[0] <= t <= times[-1]]
    span = len(fetching) // 10 or 1
    early, late = max(fetching[:span]), max(fetching[-span:])
    print("entries: %d (%d current, %d fetched)" % (len(entries), CURRENT, FETCHED))
    print("planning (manifest request to first file request): %.1f s" % (times[0] - manifest_at))
    print("fetching: %.1f s; per file, first tenth %.1f ms, last tenth %.1f ms (last/first %.2f)"
          % (times[-1] - times[0], first * 1000, last * 1000, last / first))
    print("resident memory while fetching: first tenth %d KiB, last tenth %d KiB (last/first %.2f); "
          "peak over the run %d KiB" % (early, late, late / early, max(k for _, k in samples)))
    shutil.rmtree(root, ignore_errors=True)
    if last > first * 1.2 or late > early * 1.2:
        raise SystemExit("not flat")


if __name__ == "__main__":
    main()
