"""The programs' main job on this machine, under Wine: the updater brings a
game directory up to date from a local resource server, shows its progress
window, and starts the micro-client with the launcher's command line. The
launcher's skin is shown too. Screenshots land in build/demo/.

Run through scripts/demo.sh (which builds first)."""
import hashlib
import os
import re
import shutil
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")
TREE = os.path.join(BUILD, "win-x86_64")
os.environ.update(QAL_BUILD_DIR=TREE, QAL_SOURCE_DIR=ROOT, QAL_TARGET="x86_64",
                  QAL_WINE_RUN=os.path.join(ROOT, "scripts", "wine-run.sh"))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import qaltest  # noqa: E402

DEMO = os.path.join(BUILD, "demo")
BASE = "/qal_lianyun/micro/"


def port_of_build():
    """The loopback port built into the x86_64 updater."""
    with open(os.path.join(TREE, "CMakeCache.txt")) as cache:
        for line in cache:
            found = re.match(r"QAL_RESOURCE_BASE_URL:STRING=http://(?:127\.0\.0\.1|localhost):(\d+)/", line)
            if found:
                return int(found.group(1))
    raise SystemExit("the x86_64 updater was not built with a loopback resource address")


def game_files():
    """A small game: the micro-client and a few data files, some in folders."""
    with open(os.path.join(TREE, "tests", "updater", "PelMicroLauncher.exe"), "rb") as f:
        client = f.read()
    files = {"PelMicroLauncher.exe": client}
    for i, name in enumerate(["data\\maps\\town.dat", "data\\maps\\forest.dat", "data\\sound\\theme.ogg",
                              "ui\\fonts\\title font.ttf", "config\\client.ini"]):
        files[name] = hashlib.sha256(name.encode()).digest() * (4096 * (i + 1))
    return files


def main():
    shutil.rmtree(DEMO, ignore_errors=True)
    install = os.path.join(DEMO, "Orvane Game")
    os.makedirs(install)
    for exe in ("updater/qalUpdate.exe", "launcher/qalLogin.exe"):
        shutil.copy(os.path.join(TREE, exe), install)

    files = game_files()
    entries = "".join('  <file path="%s" ver="%s"/>\n' % (p, hashlib.md5(d).hexdigest().upper())
                      for p, d in files.items())
    served = {BASE + "qupdater.xml": ('<?xml version="1.0"?>\n<update version="1.0.3">\n%s</update>\n'
                                      % entries).encode()}
    for path, data in files.items():
        served[BASE + "game/" + path.replace("\\", "/")] = data

    launcher = qaltest.win_path(os.path.join(install, "qalLogin.exe"))
    command_line = ('"%s" http://login.example.com/entergame.htm?user=demo&key=1'
                    '&urlBase=http://cdn.example.com/qal_lianyun/micro/ "%s"'
                    % (qaltest.win_path(os.path.join(install, "qalUpdate.exe")), launcher))

    with qaltest.ResourceServer(port=port_of_build(), files=served) as server:
        server.default_mode = "slow"
        server.slow_pause = 0.1
        result = {}
        runner = threading.Thread(target=lambda: result.update(
            qaltest.run_exact(command_line, cwd=install, timeout_ms=120000)))
        runner.start()
        time.sleep(6)
        shot = qaltest.screenshot(os.path.join(DEMO, "updater.png"))
        runner.join()

    print("updater exit code:", result.get("exit_code"))
    for path in files:
        local = os.path.join(install, "game", *path.split("\\"))
        print("  game\\%-28s %s" % (path, "fetched" if os.path.isfile(local) else "MISSING"))
    record = os.path.join(install, "game", "launch-record.txt")
    if os.path.exists(record):
        with open(record, encoding="utf-8") as f:
            print("micro-client started as:", f.readline().strip())
    print("screenshot of the progress window:", shot)

    report = qaltest.run_exact('"%s"' % launcher, cwd=install, timeout_ms=30000,
                               dump_on=["transparent:3000"], kill_after_ms=5000)
    print("launcher windows:", ", ".join(w["class"] for d in report["dumps"] for w in d["windows"]))
    qaltest.kill_prefix_processes()


if __name__ == "__main__":
    main()
