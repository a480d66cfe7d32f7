"""The programs' main job on this machine, under Wine, from the player's click
to the game: an operator publishes a game with qalManifest on a local
resource server, signed with the key the updater was built with; the
player's launcher shows its skin with the login page; a
click on the page's entry link hands off to the updater, which fetches the
game with its progress window and starts the micro-client it just fetched.
Each step is photographed once its window is up and painted; a picture that
cannot be taken ends the demo with an error.

Wine draws no web pages, so the login page is played by a stand-in browser
control (tests/wholeroad), registered only in the demo's own Wine prefix: it
shows the page's heading and link and follows the link when clicked. From
the launcher's navigation listener on, everything is the shipped code.

  demo.py --tree WINDOWS_BUILD_DIR --out DIR --private-key PEM --public-key PEM
          [--updater RELATIVE_EXE]
Run through scripts/demo.sh, which sets up, makes a throwaway key pair,
builds what is needed with its public key and passes these."""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASE = "/qal_lianyun/micro/"
LOGIN_PAGE = "/login/index.htm"
STAND_IN_CLSID = "{5C0E7A51-3B7D-4E2A-9C61-0F4B8D2E7A13}"
WAIT_SECONDS = 180

# Where the windows are on the 1920 x 1080 virtual screen: the launcher's
# skin and the updater's window are centred; the micro-client centres itself.
SKIN_RECT = (299, 120, 1221, 739)
UPDATER_RECT = (555, 370, 810, 340)
BROWSER_CENTRE = (299 + (488 + 1158) // 2, 120 + (232 + 632) // 2)


class DemoFailed(Exception):
    pass


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tree", required=True, help="the x86_64 Windows build tree holding the programs")
    parser.add_argument("--out", required=True, help="where the installation and the screenshots go")
    parser.add_argument("--private-key", required=True, help="the operator's key that signs the manifest")
    parser.add_argument("--public-key", required=True, help="its public half, built into the updater")
    parser.add_argument("--updater", default="updater/qalUpdate.exe",
                        help="the updater in the tree built with that public key")
    return parser.parse_args()


def setup_environment(tree):
    os.environ.update(QAL_BUILD_DIR=tree, QAL_SOURCE_DIR=ROOT, QAL_TARGET="x86_64",
                      QAL_WINE_RUN=os.path.join(ROOT, "scripts", "wine-run.sh"))
    # The stand-in browser is registered in this prefix: never the one the
    # tree's other tests use.
    os.environ.setdefault("QAL_WINEPREFIX", os.path.join(tree, "wineprefix-demo"))
    # The demo's own screen, whatever display the caller has.
    os.environ.pop("DISPLAY", None)
    sys.path.insert(0, os.path.join(ROOT, "tests", "support"))


def port_of_build(tree):
    """The loopback port built into the updater of this tree."""
    with open(os.path.join(tree, "CMakeCache.txt")) as cache:
        for line in cache:
            found = re.match(r"QAL_RESOURCE_BASE_URL:STRING=http://(?:127\.0\.0\.1|localhost):(\d+)/", line)
            if found:
                return int(found.group(1))
    raise DemoFailed("the updater in %s was not built with a loopback resource address" % tree)


def program(tree, relative):
    path = os.path.join(tree, *relative.split("/"))
    if not os.path.isfile(path):
        raise DemoFailed("missing %s: build it first (scripts/demo.sh does)" % path)
    return path


def publish_game(qaltest, tree, served, private_key, public_key):
    """The operator's side: a game tree and its manifest made and signed by
    qalManifest."""
    game = os.path.join(served, BASE.strip("/"), "game")
    files = {"PelMicroLauncher.exe": None}
    for i, name in enumerate(["data\\maps\\town.dat", "data\\maps\\forest.dat", "data\\sound\\theme.ogg",
                              "ui\\fonts\\title font.ttf", "config\\client.ini"]):
        files[name] = hashlib.sha256(name.encode()).digest() * (4096 * (i + 1))
    for name, data in files.items():
        path = os.path.join(game, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if data is None:
            shutil.copy(program(tree, "demo/PelMicroLauncher.exe"), path)
        else:
            with open(path, "wb") as f:
                f.write(data)
    tool = program(tree, "tools/qalManifest/qalManifest.exe")
    manifest = os.path.join(served, BASE.strip("/"), "qupdater.xml")
    made = qaltest.run_windows(tool, "build", qaltest.win_path(game), "--version", "1.0.3",
                               "--sign", qaltest.win_path(private_key), "-o", qaltest.win_path(manifest), timeout=600)
    if made.returncode != 0:
        raise DemoFailed("qalManifest build failed: %s" % (made.stdout + made.stderr).decode(errors="replace"))
    checked = qaltest.run_windows(tool, "verify", qaltest.win_path(manifest), qaltest.win_path(game),
                                  "--public-key", qaltest.win_path(public_key), timeout=600)
    if checked.returncode != 0:
        raise DemoFailed("qalManifest verify failed: %s" % (checked.stdout + checked.stderr).decode(errors="replace"))
    return game, manifest


def install_launcher(tree, install, port, updater):
    """The player's side, as installed."""
    os.makedirs(install)
    shutil.copy(program(tree, "launcher/qalLogin.exe"), install)
    shutil.copy(program(tree, updater), os.path.join(install, "qalUpdate.exe"))
    config = ("[config]\r\nname=Orvane\r\nloginURL=http://127.0.0.1:%d%s\r\nwebEnter=\r\n"
              "urlBase=http://127.0.0.1:%d%s\r\n") % (port, LOGIN_PAGE, port, BASE)
    with open(os.path.join(install, "wdConfig.ini"), "w", encoding="ascii") as f:
        f.write(config)


def register_stand_in_browser(qaltest, tree):
    env = qaltest.wine_env()  # brings the demo's prefix up first
    dll = program(tree, "tests/wholeroad/standin_browser.dll")
    server = "HKCR\\CLSID\\%s\\InprocServer32" % STAND_IN_CLSID
    for args in (["reg", "add", server, "/ve", "/d", qaltest.win_path(dll), "/f", "/reg:64"],
                 ["reg", "add", server, "/v", "ThreadingModel", "/d", "Apartment", "/f", "/reg:64"],
                 ["reg", "add", "HKCR\\shell.Explorer.2\\CLSID", "/ve", "/d", STAND_IN_CLSID, "/f", "/reg:64"]):
        subprocess.run(["wine", *args], env=env, check=True, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def crop(image, rect):
    x, y, w, h = rect
    return image.crop((x, y, x + w, y + h))


def distinct_colours(image):
    return len(set(image.getdata()))


def wait_for_picture(qaltest, what, rect, painted, out_path, running):
    """Photographs the screen until painted(crop) holds, then keeps the crop.
    Fails, saying what it waited for, when it does not within WAIT_SECONDS or
    when the programs ended first."""
    from PIL import Image
    shot = out_path + ".screen.png"
    deadline = time.time() + WAIT_SECONDS
    while time.time() < deadline:
        qaltest.screenshot(shot)
        with Image.open(shot) as screen:
            picture = crop(screen.convert("RGB"), rect)
        if painted(picture):
            picture.save(out_path)
            os.remove(shot)
            return out_path
        if not running():
            break
        time.sleep(0.3)
    os.replace(shot, out_path + ".failed.png")
    raise DemoFailed("no picture of %s: waited for it at %s (the last screen is in %s)"
                     % (what, rect, out_path + ".failed.png"))


def launcher_painted(res):
    """The skin where it is opaque and the close button drawn on it."""
    from PIL import Image
    skin = Image.open(os.path.join(res, "skin.png")).convert("RGBA")
    close = Image.open(os.path.join(res, "btn_close.png")).convert("RGBA")
    skin_points = [(x, y) for x in range(0, 1221, 37) for y in range(0, 739, 37)
                   if skin.getpixel((x, y))[3] == 255 and not (488 <= x < 1158 and 232 <= y < 632)]
    button_points = [(x, y) for x in range(0, 35, 3) for y in range(0, 31, 3) if close.getpixel((x, y))[3] == 255]

    def near(a, b):
        return all(abs(p - q) <= 16 for p, q in zip(a, b))

    def check(picture):
        skin_ok = sum(near(picture.getpixel(p), skin.getpixel(p)[:3]) for p in skin_points)
        button_ok = sum(near(picture.getpixel((1110 + x, 174 + y)), close.getpixel((x, y))[:3])
                        for x, y in button_points)
        return skin_ok >= 0.9 * len(skin_points) and button_ok >= 0.8 * len(button_points)
    return check


def updater_painted(background_path):
    """The background drawn, the file counter written on it, and the bar on
    its way."""
    from PIL import Image, ImageChops
    background = Image.open(background_path).convert("RGB")

    def check(picture):
        diff = ImageChops.difference(crop(picture, (0, 0, 810, 270)), crop(background, (0, 0, 810, 270)))
        stray = sum(1 for v in diff.convert("L").getdata() if v > 60)
        counter = ImageChops.difference(crop(picture, (20, 300, 250, 30)), crop(background, (20, 300, 250, 30)))
        drawn = sum(1 for v in counter.convert("L").getdata() if v > 60)
        bar = crop(picture, (8, 283, 400, 10)).getdata()
        moved = sum(1 for r, g, b in bar if r + g + b < 600)
        return stray < 810 * 270 // 50 and drawn > 100 and moved > 200
    return check


def client_painted(picture):
    """The heading band and dark text on the light page (the frame around it
    is Wine's)."""
    pixels = list(picture.getdata())
    band = sum(1 for p in pixels if p == (28, 44, 72))
    page = sum(1 for p in pixels if p == (244, 241, 232))
    text = sum(1 for r, g, b in pixels if r + g + b < 100)
    return band > 20000 and page > 50000 and text > 300


def find_window(qaltest, title):
    """(x, y, width, height) of the top-level X window with that title, or None."""
    display = qaltest.wine_env()["DISPLAY"]
    out = subprocess.run(["xwininfo", "-root", "-children", "-display", display], capture_output=True,
                         text=True, timeout=30).stdout
    for line in out.splitlines():
        if '"%s"' % title in line:
            found = re.search(r"(\d+)x(\d+)\+(-?\d+)\+(-?\d+)", line)
            if found:
                w, h, x, y = map(int, found.groups())
                return (x, y, w, h)
    return None


def main():
    args = parse_arguments()
    tree = os.path.abspath(args.tree)
    out = os.path.abspath(args.out)
    setup_environment(tree)
    import qaltest  # noqa: E402

    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    port = port_of_build(tree)
    print("demo: Wine prefix %s (the first run boots it)" % qaltest.wine_prefix(), flush=True)
    register_stand_in_browser(qaltest, tree)
    served = os.path.join(out, "server")
    _, manifest = publish_game(qaltest, tree, served, args.private_key, args.public_key)
    print("operator: qalManifest built and signed %s and verified it against the game tree"
          % os.path.relpath(manifest, out), flush=True)
    install = os.path.join(out, "Orvane Game")
    install_launcher(tree, install, port, args.updater)
    entry = "http://127.0.0.1:%d/login/entergame.htm?user=demo&key=7f3a" % port
    page = ('<html><head><meta charset="utf-8"></head><body><h1>Orvane \xb7 \u767b\u5f55</h1>'
            '<a id="enter" data-follow="click" href="%s">\u8fdb\u5165\u6e38\u620f \xbb Enter the game</a>'
            '</body></html>' % entry.replace("&", "&amp;"))

    pictures = []
    with qaltest.ResourceServer(port=port, root=served, files={LOGIN_PAGE: page.encode("utf-8")}) as server:
        # Slow enough that the progress window can be seen at work.
        server.default_mode = "slow"
        server.slow_pause = 0.15
        result = {}
        launcher = qaltest.win_path(os.path.join(install, "qalLogin.exe"))
        runner = threading.Thread(target=lambda: result.update(qaltest.run_exact(
            qaltest.quote_arg(launcher), cwd=install, timeout_ms=WAIT_SECONDS * 3000,
            follow=["qalUpdate.exe"])))
        runner.start()
        try:
            running = runner.is_alive
            res = os.path.join(ROOT, "launcher", "res")
            # Wine stacks the skin above its panel until the panel is raised.
            deadline = time.time() + WAIT_SECONDS
            while "/login/index.htm" not in server.paths_requested() and time.time() < deadline and running():
                time.sleep(0.2)
            qaltest.raise_launcher_panel()
            pictures.append((wait_for_picture(qaltest, "the launcher's skin and buttons", SKIN_RECT,
                                              launcher_painted(res), os.path.join(out, "launcher.png"), running),
                             "the launcher: skin, logo, buttons and the login page with its entry link"))
            qaltest.click(*BROWSER_CENTRE)
            background = os.path.join(ROOT, "updater", "res", "background.jpg")
            pictures.append((wait_for_picture(qaltest, "the updater's progress window with its counter",
                                              UPDATER_RECT, updater_painted(background),
                                              os.path.join(out, "updater.png"), running),
                             "the updater: fetching the game, bar and file counter"))
            deadline = time.time() + WAIT_SECONDS
            rect = None
            while rect is None and time.time() < deadline and running():
                rect = find_window(qaltest, "Orvane micro-client (demo)")
                time.sleep(0.3)
            if rect is None:
                raise DemoFailed("no picture of the micro-client: its window never showed")
            pictures.append((wait_for_picture(qaltest, "the micro-client's window", rect, client_painted,
                                              os.path.join(out, "micro-client.png"), running),
                             "the micro-client the updater fetched, showing the parameters it received"))
        finally:
            # Lets the micro-client end, and with it the updater.
            os.makedirs(os.path.join(install, "game"), exist_ok=True)
            with open(os.path.join(install, "game", "close.txt"), "w") as f:
                f.write("done\n")
            runner.join(WAIT_SECONDS)
        requested = server.paths_requested()

    report = result
    updaters = report.get("followed", [])
    print("player: the launcher ended with %s; the entry address %s the server"
          % (report.get("exit_code"), "never reached" if "/login/entergame.htm" not in requested else "REACHED"))
    if updaters:
        print("updater: fetched %d files, ended with %s" % (
            sum(1 for p in requested if p.startswith(BASE + "game/")), updaters[0].get("exit_code")))
    with open(os.path.join(install, "game", "launch-record.txt"), encoding="utf-8") as f:
        print("micro-client started as:", f.readline().strip())
    if report.get("exit_code") != 0 or not updaters or updaters[0].get("exit_code") != 0:
        raise DemoFailed("the road did not end as it should: %s" % report)
    print("\nscreenshots:")
    for path, what in pictures:
        print("  %-40s %s" % (os.path.relpath(path, ROOT), what))


if __name__ == "__main__":
    try:
        main()
    except DemoFailed as failure:
        print("demo failed:", failure, file=sys.stderr)
        sys.exit(1)
