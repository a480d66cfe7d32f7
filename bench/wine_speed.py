"""The two measurements bench/speed.sh takes under Wine, with the x86_64 test
build (build/win-x86_64):

  planning  the real qalUpdate.exe planning a manifest of every file of a tree
            (all current, so nothing is fetched), minus its start-up, measured
            apart with a manifest of no entries; best of three each.
  start-up  the time from starting the launcher to its first painted skin,
            against a minimal Win32 window program built the same way (the
            tests' backdrop window), seen as pixels on the virtual screen;
            median of five each.

  wine_speed.py planning TREE MANIFEST
  wine_speed.py startup
Prints one "name: value" line per figure."""
import ctypes
import os
import shutil
import statistics
import sys
import threading
import time

from wine_bench import BASE, PORT, ROOT, TREE_DIR, qaltest


def program(relative):
    path = os.path.join(TREE_DIR, *relative.split("/"))
    if not os.path.isfile(path):
        raise SystemExit("missing %s: run scripts/test-all.sh (or build build/) first" % path)
    return path


def planning(tree, manifest):
    root = qaltest.make_temp_dir("bench-")
    install = os.path.join(root, "Orvane Game")
    os.makedirs(install)
    shutil.copy(program("updater/qalUpdate.exe"), install)
    # The tree is the game directory, through a link: nothing is copied.
    os.symlink(os.path.abspath(tree), os.path.join(install, "game"))
    with open(manifest, "rb") as f:
        listing = f.read()
    empty = b"<?xml version='1.0'?>\n<update version='bench'/>\n"
    line = qaltest.quote_arg(qaltest.win_path(os.path.join(install, "qalUpdate.exe"))) + \
        ' http://127.0.0.1:9/entergame.htm?bench "C:\\qalLogin.exe"'

    def best_of_three(body):
        times = []
        with qaltest.ResourceServer(port=PORT, files={BASE + "qupdater.xml": body}) as server:
            for _ in range(3):
                report = qaltest.run_exact(line, cwd=root, timeout_ms=1800000)
                if report["exit_code"] != 0 or report["boxes"]:
                    raise SystemExit("qalUpdate did not plan cleanly: %s" % report)
                times.append(report["elapsed_ms"] / 1000.0)
            if any(p.startswith(BASE + "game/") for p in server.paths_requested()):
                raise SystemExit("qalUpdate fetched files: the tree does not match the manifest")
        return min(times)

    start_up = best_of_three(empty)
    full = best_of_three(listing)
    print("wine_updater_startup_s: %.3f" % start_up)
    print("wine_updater_run_s: %.3f" % full)
    print("wine_planning_s: %.3f" % (full - start_up))
    shutil.rmtree(root, ignore_errors=True)


class Screen:
    """Reads single pixels of the build's virtual screen."""

    def __init__(self):
        display = qaltest.wine_env()["DISPLAY"]
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.c_void_p
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                       ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x11.XGetPixel.restype = ctypes.c_ulong
        self.x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.x11.XFree.argtypes = [ctypes.c_void_p]
        self.dpy = self.x11.XOpenDisplay(display.encode())
        self.root = self.x11.XDefaultRootWindow(self.dpy)

    def pixel(self, x, y):
        image = self.x11.XGetImage(self.dpy, self.root, x, y, 1, 1, 0xFFFFFFFF, 2)
        value = self.x11.XGetPixel(image, 0, 0)
        # The 1x1 image is left to the process's end: XDestroyImage is a macro.
        return ((value >> 16) & 255, (value >> 8) & 255, value & 255)


def near(a, b):
    return all(abs(p - q) <= 12 for p, q in zip(a, b))


def time_to_pixel(screen, command_line, cwd, x, y, colour):
    """Seconds from starting the program (through the test driver) to the
    pixel showing colour; the program is ended after."""
    deadline = time.time() + 60
    while near(screen.pixel(x, y), colour):
        if time.time() > deadline:
            raise SystemExit("the screen still shows the last run's window")
        time.sleep(0.05)
    done = threading.Event()
    runner = threading.Thread(target=lambda: (qaltest.run_exact(command_line, cwd=cwd, kill_after_ms=6000),
                                              done.set()))
    start = time.perf_counter()
    runner.start()
    seen = None
    while not done.is_set():
        if near(screen.pixel(x, y), colour):
            seen = time.perf_counter() - start
            break
        time.sleep(0.002)
    runner.join()
    if seen is None:
        raise SystemExit("never painted: %s" % command_line)
    return seen


def startup():
    from PIL import Image
    root = qaltest.make_temp_dir("bench-")
    install = os.path.join(root, "Orvane Game")
    os.makedirs(install)
    shutil.copy(program("launcher/qalLogin.exe"), install)
    with open(os.path.join(install, "wdConfig.ini"), "w") as f:
        f.write("[config]\nname=Orvane\nloginURL=http://127.0.0.1:9/\n")
    skin = Image.open(os.path.join(ROOT, "launcher", "res", "skin.png")).convert("RGBA")
    sx, sy = 100, 650  # opaque on the skin, outside panel and browser
    skin_colour = skin.getpixel((sx, sy))[:3]
    screen = Screen()
    launcher = qaltest.quote_arg(qaltest.win_path(os.path.join(install, "qalLogin.exe")))
    backdrop = qaltest.quote_arg(qaltest.win_path(program("tests/launcher/launcher_backdrop.exe")))
    launcher_times, backdrop_times = [], []
    for _ in range(5):
        launcher_times.append(time_to_pixel(screen, launcher, install, 299 + sx, 120 + sy, skin_colour))
        backdrop_times.append(time_to_pixel(screen, backdrop, install, 100, 100, (0, 128, 255)))
    print("wine_launcher_first_skin_s: %.3f" % statistics.median(launcher_times))
    print("wine_minimal_window_first_paint_s: %.3f" % statistics.median(backdrop_times))
    print("wine_launcher_startup_ratio: %.2f" % (statistics.median(launcher_times) / statistics.median(backdrop_times)))
    qaltest.kill_prefix_processes()
    shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "planning":
        planning(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 2 and sys.argv[1] == "startup":
        startup()
    else:
        raise SystemExit(__doc__)
