"""qalLogin.exe end to end under Wine: start-up with and without its
configuration, the window layout, the buttons, closing, minimising, the
maintenance actions and a screenshot of the virtual screen."""
import os
import shutil
import stat
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.environ.get("QAL_SOURCE_DIR", ""), "tests", "support"))
import qaltest  # noqa: E402

LAUNCHER = os.environ.get("QAL_LAUNCHER_EXE", "")
STUB = os.environ.get("QAL_LAUNCHER_STUB", "")
BACKDROP = os.environ.get("QAL_LAUNCHER_BACKDROP", "")
RES = os.path.join(qaltest.SOURCE_DIR, "launcher", "res")

WM_COMMAND = 0x0111
WM_SYSCOMMAND = 0x0112
WM_SYSKEYDOWN = 0x0104
SC_CLOSE = 0xF060
SC_RESTORE = 0xF120
WS_VISIBLE = 0x10000000
WS_EX_LAYERED = 0x00080000

SKIN_RECT = [299, 120, 1520, 859]
BUTTONS = {1: [1110, 174, 1145, 205], 2: [1070, 174, 1105, 205], 3: [720, 185, 793, 209], 4: [665, 185, 707, 209]}
BACKDROP_RGB = (0, 128, 255)


def post(cls, message, wparam, delay_ms, lparam=0):
    return "%s:%d:%d:%d:%d" % (cls, message, wparam, lparam, delay_ms)


def close_at(delay_ms):
    return post("transparent", WM_SYSCOMMAND, SC_CLOSE, delay_ms)


def click_at(button, delay_ms):
    return post("childTransparent", WM_COMMAND, button, delay_ms)


def h(value):
    return int(value, 16)


def by_class(dump):
    return {w["class"]: w for w in dump["windows"]}


class LauncherTest(qaltest.unittest.TestCase):
    def setUp(self):
        self.dir = qaltest.make_temp_dir("launcher dir ")
        shutil.copy(LAUNCHER, os.path.join(self.dir, "qalLogin.exe"))
        self.elsewhere = qaltest.make_temp_dir("cwd-")
        self.clients = []

    def tearDown(self):
        for p in self.clients:
            if p.poll() is None:
                p.kill()
                p.wait(30)

    def configure(self, **values):
        lines = ["[config]"] + ["%s=%s" % kv for kv in values.items()]
        with open(os.path.join(self.dir, "wdConfig.ini"), "w", encoding="ascii", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")

    def run_launcher(self, timeout_ms=30000, **kw):
        line = qaltest.quote_arg(qaltest.win_path(os.path.join(self.dir, "qalLogin.exe")))
        report = qaltest.run_exact(line, cwd=self.elsewhere, timeout_ms=timeout_ms, **kw)
        self.assertFalse(report["timed_out"], report)
        self.assertEqual(report["exit_code"], 0)
        return report

    def start_client(self, folder, name):
        path = os.path.join(self.dir, folder)
        os.makedirs(path, exist_ok=True)
        exe = os.path.join(path, name)
        shutil.copy(STUB, exe)
        p = qaltest.start_windows(exe)
        self.clients.append(p)
        return p

    def assert_layout(self, windows, title):
        skin, panel = windows["transparent"], windows["childTransparent"]
        self.assertEqual(h(skin["style"]) & ~WS_VISIBLE, 0x86080000)
        self.assertEqual(h(skin["exstyle"]), WS_EX_LAYERED)
        self.assertEqual(skin["rect"], SKIN_RECT)
        self.assertEqual(h(skin["owner"]), 0)
        self.assertEqual(skin["title"], title)
        self.assertEqual(h(panel["style"]) & ~WS_VISIBLE, 0x06080000)
        self.assertTrue(h(panel["exstyle"]) & WS_EX_LAYERED)
        self.assertEqual(panel["rect"], SKIN_RECT)
        self.assertEqual(panel["owner_class"], "transparent")
        self.assertEqual(panel["title"], "")
        children = [c for c in panel["children"] if c["parent_class"] == "childTransparent"]
        buttons = {c["id"]: c for c in children if c["class"] == "Button"}
        self.assertEqual(sorted(buttons), [1, 2, 3, 4])
        for ident, rect in BUTTONS.items():
            self.assertEqual(buttons[ident]["client_rect"], rect)
            self.assertEqual(h(buttons[ident]["style"]), 0x5000000B)
        hosts = [c for c in children if c["class"] == "AtlAxWin100"]
        self.assertEqual(len(hosts), 1)
        self.assertEqual(hosts[0]["client_rect"], [488, 232, 1158, 632])
        self.assertEqual(h(hosts[0]["style"]), 0x50000000)

    def test_startup_reads_config_beside_the_launcher_and_opens_login_page(self):
        with qaltest.ResourceServer(files={"/login.htm": b"<html><body>login</body></html>"}) as server:
            self.configure(name="n" * 1500, loginURL=server.url("/login.htm"))
            report = self.run_launcher(dump_on=["transparent:3000"], on_window=[close_at(5000)])
            self.assertIn("/login.htm", server.paths_requested())
        self.assert_layout(by_class(report["dumps"][0]), "n" * 1023)
        self.assertEqual(report["boxes"], [])

    def test_startup_without_config_and_alt_f4(self):
        alt_f4 = post("transparent", WM_SYSKEYDOWN, 0x73, 4000, lparam=0x20000001)
        report = self.run_launcher(dump_on=["transparent:3000"], on_window=[alt_f4])
        self.assert_layout(by_class(report["dumps"][0]), "")

    def test_close_button_asks_first_and_never_starts_the_updater(self):
        shutil.copy(STUB, os.path.join(self.dir, "qalUpdate.exe"))
        report = self.run_launcher(answers=["IDCANCEL", "IDOK"], dump_on=["transparent:6000"],
                                   on_window=[click_at(1, 3000), click_at(1, 8000)])
        self.assertEqual(len(report["boxes"]), 2)
        for box in report["boxes"]:
            self.assertEqual((box["caption"], box["text"]), ("警告", "此操作将退出游戏,是否继续!"))
            self.assertEqual(box["owner_class"], "childTransparent")
            self.assertTrue(box["has_cancel"])
        # After Cancel the launcher was still there, unchanged.
        self.assertEqual(by_class(report["dumps"][0])["transparent"]["rect"], SKIN_RECT)
        self.assertGreater(report["elapsed_ms"], 8000)
        time.sleep(1)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "updater-command-line.txt")))

    def test_minimise_hides_both_and_restore_brings_the_panel_back(self):
        restore = post("transparent", WM_SYSCOMMAND, SC_RESTORE, 6000)
        report = self.run_launcher(dump_on=["transparent:4500", "transparent:8000"],
                                   on_window=[click_at(2, 3000), restore, close_at(9500)])
        minimised, restored = (by_class(d) for d in report["dumps"])
        self.assertTrue(minimised["transparent"]["iconic"])
        panel = minimised["childTransparent"]
        self.assertTrue(not panel["visible"] or panel["rect"] != SKIN_RECT)
        self.assertFalse(restored["transparent"]["iconic"])
        self.assertEqual(restored["transparent"]["rect"], SKIN_RECT)
        self.assertTrue(restored["childTransparent"]["visible"])
        self.assertEqual(restored["childTransparent"]["rect"], SKIN_RECT)

    def test_clear_button_starts_clearing_and_reports_success(self):
        # WinExec looks in the launcher's own directory first: the stand-in
        # there records the command it was started with.
        shutil.copy(STUB, os.path.join(self.dir, "rundll32.exe"))
        report = self.run_launcher(answers=["IDOK"], dump_on=["transparent:6000"],
                                   on_window=[click_at(3, 3000), close_at(7500)])
        self.assertEqual(len(report["boxes"]), 1)
        box = report["boxes"][0]
        self.assertEqual((box["caption"], box["text"]), ("提示", "清理成功!"))
        self.assertEqual(h(box["owner"]), 0)
        self.assertIn("transparent", by_class(report["dumps"][0]))
        self.assertEqual(self.stub_record("rundll32-command-line.txt"),
                         "rundll32.exe InetCpl.cpl, ClearMyTracksByProcess 8")

    def stub_record(self, name, timeout_s=15):
        """What a stub recorded beside itself; None when nothing came in time."""
        record = os.path.join(self.dir, name)
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline:
            # Created empty, then written: an empty record is not whole yet.
            if os.path.exists(record) and os.path.getsize(record) > 0:
                with open(record, "rb") as f:
                    return f.read().decode("utf-16-le")
            time.sleep(0.2)
        return None

    def make_game_tree(self, read_only, link=True):
        game = os.path.join(self.dir, "game")
        for d in ("a/b/c", "keep/deep", "empty"):
            os.makedirs(os.path.join(game, d))
        for f in ("top.txt", "a/one.dat", "a/b/two.dat", "a/b/c/three.dat", "keep/deep/plain.txt"):
            with open(os.path.join(game, f), "w") as out:
                out.write(f)
        kept = os.path.join(game, "keep", "deep", "readonly.txt")
        if read_only:
            with open(kept, "w") as out:
                out.write("keep")
            os.chmod(kept, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        target = os.path.join(self.dir, "outside")
        os.makedirs(target)
        with open(os.path.join(target, "precious.txt"), "w") as out:
            out.write("precious")
        if link:
            # Shows to Windows programs as a directory with the reparse-point attribute.
            os.symlink(target, os.path.join(game, "a", "link"))
        return game, kept, target

    def test_repair_cancel_changes_nothing(self):
        game, _, _ = self.make_game_tree(read_only=False)
        client = self.start_client("clients", "PelMicroLauncher.exe")
        time.sleep(3)
        report = self.run_launcher(answers=["IDCANCEL"], on_window=[click_at(4, 3000), close_at(6500)])
        self.assertEqual(len(report["boxes"]), 1)
        box = report["boxes"][0]
        self.assertEqual((box["caption"], box["text"]), ("警告", "修复后将关闭所有游戏进程!"))
        self.assertEqual(box["owner_class"], "childTransparent")
        self.assertTrue(os.path.exists(os.path.join(game, "a", "b", "c", "three.dat")))
        self.assertIsNone(client.poll())

    def test_repair_ends_micro_clients_and_deletes_game_but_not_through_links(self):
        game, kept, target = self.make_game_tree(read_only=True)
        first = self.start_client("clients", "PelMicroLauncher.exe")
        second = self.start_client("clients", "PelMicroLauncher.exe")
        other = self.start_client("others", "pelmicrolauncher.exe")
        time.sleep(3)
        report = self.run_launcher(answers=["IDOK", "IDOK"], on_window=[click_at(4, 3000), close_at(8000)])
        captions = [(b["caption"], b["text"]) for b in report["boxes"]]
        self.assertEqual(captions, [("警告", "修复后将关闭所有游戏进程!"), ("提示", "修复成功!")])
        self.assertEqual(h(report["boxes"][1]["owner"]), 0)
        for p in (first, second):
            self.assertEqual(p.wait(10), 0)  # ended by the launcher, not by its own timer (7)
        self.assertIsNone(other.poll())
        self.assertTrue(os.path.exists(kept))
        # The link is never followed: its target keeps everything. Wine 8 cannot
        # remove a Unix symbolic link through RemoveDirectoryW (nor any other
        # Windows call), so there the link itself, and the directory holding
        # it, may stay; on Windows the junction or link is removed.
        link = os.path.join(game, "a", "link")
        if os.path.lexists(link):
            self.assertTrue(os.path.islink(link))
            self.assertEqual(os.listdir(os.path.join(game, "a")), ["link"])
            self.assertEqual(sorted(os.listdir(game)), ["a", "keep"])
        else:
            self.assertEqual(sorted(os.listdir(game)), ["keep"])
        self.assertEqual(os.listdir(os.path.join(game, "keep")), ["deep"])
        self.assertEqual(os.listdir(os.path.join(game, "keep", "deep")), ["readonly.txt"])
        self.assertTrue(os.path.exists(os.path.join(target, "precious.txt")))

    def test_repair_removes_the_whole_game_directory(self):
        game, _, target = self.make_game_tree(read_only=False, link=False)
        self.run_launcher(answers=["IDOK", "IDOK"], on_window=[click_at(4, 3000), close_at(7000)])
        self.assertFalse(os.path.lexists(game))
        self.assertTrue(os.path.exists(os.path.join(target, "precious.txt")))

    def test_screenshot_shows_skin_logo_buttons_and_what_lies_beneath(self):
        backdrop = qaltest.start_windows(BACKDROP)
        self.clients.append(backdrop)
        time.sleep(3)
        self.configure(name="Orvane")
        shot = os.path.join(qaltest.BUILD_DIR, "launcher-screenshot.png")
        taken = threading.Event()

        def take():
            time.sleep(6)
            raise_panel_above_skin()
            time.sleep(1)
            qaltest.screenshot(shot)
            taken.set()
        t = threading.Thread(target=take)
        t.start()
        self.run_launcher(on_window=[close_at(10000)])
        t.join()
        self.assertTrue(taken.is_set())
        from PIL import Image
        screen = Image.open(shot).convert("RGB")
        skin = Image.open(os.path.join(RES, "skin.png")).convert("RGBA")
        logo = Image.open(os.path.join(RES, "logo.png")).convert("RGBA")
        close = Image.open(os.path.join(RES, "btn_close.png")).convert("RGBA")

        def at(x, y):
            return screen.getpixel((SKIN_RECT[0] + x, SKIN_RECT[1] + y))

        def near(a, b):
            return all(abs(p - q) <= 12 for p, q in zip(a, b))
        for x, y in ((5, 5), (600, 100), (1215, 730)):
            self.assertEqual(skin.getpixel((x, y))[3], 0)
            self.assertEqual(at(x, y), BACKDROP_RGB, (x, y))
        self.assertEqual(screen.getpixel((100, 100)), BACKDROP_RGB)
        for x, y in ((100, 650), (300, 700)):
            self.assertEqual(skin.getpixel((x, y))[3], 255)
            self.assertTrue(near(at(x, y), skin.getpixel((x, y))[:3]), (x, y, at(x, y)))
        logo_points = [(x, y) for x in range(0, 369, 7) for y in range(0, 177, 7) if logo.getpixel((x, y))[3] == 255]
        self.assertTrue(logo_points)
        for x, y in logo_points[:20]:
            self.assertTrue(near(at(760 + x, 70 + y), logo.getpixel((x, y))[:3]), (x, y))
        for x in range(2, 33, 5):
            want = close.getpixel((x, 15))
            if want[3] == 255:
                self.assertTrue(near(at(1110 + x, 174 + 15), want[:3]), (x, at(1110 + x, 189), want))


def raise_panel_above_skin():
    qaltest.raise_launcher_panel()


if __name__ == "__main__":
    qaltest.main()
