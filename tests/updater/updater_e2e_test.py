"""qalUpdate end to end under Wine: a loopback resource server, the stub
micro-client, and qal_test_driver starting the updater with exact command
lines and answering its message boxes."""
import hashlib
import os
import shutil
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.environ["QAL_SOURCE_DIR"], "tests", "support"))
import qaltest  # noqa: E402

PORT = int(os.environ["QAL_TEST_HTTP_PORT"])
UPDATER = os.environ["QAL_UPDATER_EXE"]
# The same updater with a stall limit of a few seconds instead of 60.
SHORT_STALL_UPDATER = os.environ["QAL_UPDATER_SHORT_STALL_EXE"]
PARTIAL_NAME = "qalupdate.part"
STUB = os.environ["QAL_STUB_CLIENT_EXE"]
BACKGROUND = os.environ["QAL_UPDATER_BACKGROUND"]
BASE = "/qal_lianyun/micro/"
MANIFEST = BASE + "qupdater.xml"
# What the launcher hands over: the entry address, another resource base
# (which must not change where the updater fetches from) and its quoted path.
ARGS = ('http://127.0.0.1:9/login/entergame.htm?uid=42&sign=a%20b&urlBase=http://elsewhere.example/qal/ '
        '"C:\\Program Files (x86)\\Orvane Game\\qalLogin.exe"')
FAILED = {"caption": "警告", "text": "更新失败!"}
WM_PAINT, WM_CLOSE, WM_COMMAND = 0x000F, 0x0010, 0x0111
WINDOW_AT = (555, 370)  # 810 x 340 centred on 1920 x 1080


def md5_upper(data):
    return hashlib.md5(data).hexdigest().upper()


def xml_escape(text):
    return text.replace("&", "&amp;").replace("'", "&apos;").replace("<", "&lt;")


def manifest(entries, version="1.0.2.7"):
    """entries: (path, ver) pairs; ver None leaves the attribute out."""
    lines = ["<?xml version='1.0' encoding='gb2312'?>", "<update version='%s'>" % xml_escape(version)]
    for path, ver in entries:
        ver_attr = "" if ver is None else " ver='%s'" % ver
        lines.append("  <file path='%s'%s/>" % (xml_escape(path), ver_attr))
    lines.append("</update>")
    return "\n".join(lines).encode("ascii")


def server_path(path):
    return BASE + "game/" + path.replace("\\", "/")


class Install:
    """An installation directory (with blanks in its path) holding a copy of
    the updater, optionally the stub micro-client, and local game files."""

    def __init__(self, stub=True, client_wait_ms=0, updater=UPDATER, name="Orvane Game"):
        self.root = qaltest.make_temp_dir("updater-")
        self.dir = os.path.join(self.root, name)
        self.cwd = os.path.join(self.root, "start here")
        os.makedirs(os.path.join(self.dir, "game"))
        os.makedirs(self.cwd)
        shutil.copy(updater, os.path.join(self.dir, "qalUpdate.exe"))
        if stub:
            shutil.copy(STUB, self.game("PelMicroLauncher.exe"))
        if client_wait_ms:
            self.put("wait-ms.txt", str(client_wait_ms).encode())

    def game(self, path):
        return os.path.join(self.dir, "game", *path.replace("\\", "/").split("/"))

    def put(self, path, data):
        os.makedirs(os.path.dirname(self.game(path)), exist_ok=True)
        with open(self.game(path), "wb") as f:
            f.write(data)

    def read(self, path):
        with open(self.game(path), "rb") as f:
            return f.read()

    def partial_files(self):
        """Every partial download left anywhere in the installation."""
        return [os.path.join(d, f) for d, _, files in os.walk(self.dir) for f in files
                if f.lower() == PARTIAL_NAME]

    def outside_game(self):
        """{relative path: bytes} of every file outside game/ but the updater."""
        found = {}
        for d, _, files in os.walk(self.dir):
            if os.path.relpath(d, self.dir).split(os.sep)[0] == "game":
                continue
            for f in files:
                path = os.path.join(d, f)
                if path != os.path.join(self.dir, "qalUpdate.exe"):
                    with open(path, "rb") as fh:
                        found[os.path.relpath(path, self.dir)] = fh.read()
        return found

    def client_record(self):
        """(command line, show command, working directory) or None."""
        try:
            with open(self.game("launch-record.txt"), encoding="utf-8") as f:
                return tuple(f.read().split("\n")[:3])
        except FileNotFoundError:
            return None

    def client_waited_for(self):
        return os.path.exists(self.game("launch-ended.txt"))

    def run(self, args=ARGS, **options):
        line = qaltest.quote_arg(qaltest.win_path(os.path.join(self.dir, "qalUpdate.exe"))) + " " + args
        options.setdefault("timeout_ms", 60000)
        return qaltest.run_exact(line, cwd=self.cwd, **options)


def cached_copies(contents):
    """Files in the Wine prefix's Internet cache holding any of contents."""
    found = []
    users = os.path.join(qaltest.wine_prefix(), "drive_c", "users")
    for top, _, names in os.walk(users):
        if "Content.IE5" not in top:
            continue
        for name in names:
            with open(os.path.join(top, name), "rb") as f:
                if f.read() in contents:
                    found.append(os.path.join(top, name))
    return found


def boxes_of(report):
    return [{"caption": b["caption"], "text": b["text"]} for b in report["boxes"]]


def serve(files):
    return qaltest.ResourceServer(port=PORT, files=files)


class UpdaterEndToEnd(qaltest.unittest.TestCase):
    def assertClientStartedWith(self, install, args=ARGS):
        record = install.client_record()
        self.assertIsNotNone(record, "micro-client not started")
        command_line, show, cwd = record
        # The shell puts the program in front; the parameters are the updater's
        # argument text, character for character.
        self.assertTrue(command_line.endswith(" " + args), command_line)
        self.assertIn("PelMicroLauncher.exe", command_line)
        self.assertEqual(show, "0")  # SW_HIDE
        self.assertEqual(cwd.rstrip("\\").lower(), qaltest.win_path(install.cwd).lower())

    def test_everything_current_starts_client_without_window(self):
        install = Install(client_wait_ms=800)
        top, deep = b"top level file\n", os.urandom(3000)
        install.put("top.bin", top)
        install.put("data\\deep.dat", deep)
        files = {MANIFEST: manifest([("top.bin", md5_upper(top)), ("data\\deep.dat", md5_upper(deep))])}
        with serve(files) as server:
            report = install.run(dump_on=["SimpleWindow"])
        self.assertEqual(report["exit_code"], 0)
        self.assertEqual(report["boxes"], [])
        self.assertEqual(report["dumps"], [], "a window appeared")
        self.assertEqual(server.paths_requested(), [MANIFEST])
        self.assertClientStartedWith(install)
        self.assertTrue(install.client_waited_for())

    def test_fetches_missing_and_different_files_into_place(self):
        install = Install(client_wait_ms=1500)
        content = {
            "top.bin": os.urandom(70000),
            "sub dir\\deeper\\x y.dat": b"with blanks " * 50,
            "sub dir\\changed.dat": b"new content",
            "same.dat": b"unchanged",
            "lower.dat": b"listed with a lowercase digest",
            "nover.dat": b"listed without a digest",
        }
        install.put("sub dir\\changed.dat", b"old content")
        install.put("same.dat", content["same.dat"])
        install.put("lower.dat", content["lower.dat"])
        install.put("nover.dat", content["nover.dat"])
        entries = [(p, md5_upper(d)) for p, d in content.items()]
        entries[4] = ("lower.dat", md5_upper(content["lower.dat"]).lower())
        entries[5] = ("nover.dat", None)
        files = {MANIFEST: manifest(entries)}
        files.update({server_path(p): d for p, d in content.items()})
        with serve(files) as server:
            report = install.run()
        self.assertEqual(report["exit_code"], 0)
        self.assertEqual(report["boxes"], [])
        self.assertEqual(server.requests,
                         [MANIFEST, BASE + "game/top.bin", BASE + "game/sub%20dir/deeper/x%20y.dat",
                          BASE + "game/sub%20dir/changed.dat", BASE + "game/lower.dat",
                          BASE + "game/nover.dat"])
        for path, data in content.items():
            self.assertEqual(install.read(path), data, path)
        # No copy of a fetched file stays in the Internet cache.
        fetched = [d for p, d in content.items() if p != "same.dat"]
        self.assertEqual(cached_copies(fetched), [])
        self.assertClientStartedWith(install)
        self.assertTrue(install.client_waited_for())

    def test_manifest_failures_end_with_100(self):
        # The fault matrix makes every transfer fault happen; these keep what
        # it does not look at: the kept manifest never replaced by one cut
        # short (with a length announced, and without), and a silent server
        # given up on in time.
        cases = [("truncate", None), ("chunked_cut", None), ("stall", None),
                 ("ok", b"<update><file path='a.dat' ver='00'>"),
                 ("ok", b""),
                 ("ok", b"<?xml version='1.0'?><!-- no element -->")]
        earlier = manifest([("a.dat", md5_upper(b"a"))], version="earlier")
        for mode, body in cases:
            with self.subTest(mode=mode, body=body):
                # A silent server is given up on after the short stall limit.
                install = Install(updater=SHORT_STALL_UPDATER if mode == "stall" else UPDATER)
                os.makedirs(os.path.join(install.dir, "download"))
                with open(os.path.join(install.dir, "download", "qupdater.xml"), "wb") as f:
                    f.write(earlier)
                listing = manifest([("a.dat", "00")])
                # Padded so the cut falls in the padding, where only the
                # announced length shows it; without a length the cut must
                # leave the document unfinished to be seen at all.
                if mode != "chunked_cut":
                    listing += b" " * 4000
                files = {MANIFEST: body if body is not None else listing, server_path("a.dat"): b"a"}
                with serve(files) as server:
                    server.fail(MANIFEST, mode)
                    report = install.run(answers=["IDOK"])
                self.assertEqual(report["exit_code"], 100)
                self.assertEqual(boxes_of(report), [FAILED])
                self.assertEqual(server.paths_requested(), [MANIFEST])
                self.assertIsNone(install.client_record())
                self.assertFalse(os.path.exists(install.game("a.dat")))
                self.assertEqual(install.partial_files(), [])
                if body is None:
                    # A manifest that did not arrive whole never replaces the last one.
                    self.assertEqual(install.outside_game(), {os.path.join("download", "qupdater.xml"): earlier})
                if mode == "stall":
                    self.assertLess(report["elapsed_ms"], 30000)

    def test_file_failure_ends_with_100_and_next_run_fetches_the_rest(self):
        content = {"a.dat": os.urandom(5000), "dir\\b.dat": os.urandom(9000), "c.dat": os.urandom(100)}
        older = b"the player's older copy " * 30
        files = {MANIFEST: manifest([(p, md5_upper(d)) for p, d in content.items()])}
        files.update({server_path(p): d for p, d in content.items()})
        # One fault (the fault matrix makes each happen): the files before it
        # stay placed and the next run fetches only the rest.
        install = Install()
        install.put("dir\\b.dat", older)
        with serve(files) as server:
            server.fail(server_path("dir\\b.dat"), "truncate")
            report = install.run(answers=["IDOK"])
        self.assertEqual(report["exit_code"], 100)
        self.assertEqual(boxes_of(report), [FAILED])
        self.assertEqual(server.paths_requested(),
                         [MANIFEST, server_path("a.dat"), server_path("dir\\b.dat")])
        self.assertEqual(install.read("a.dat"), content["a.dat"])
        self.assertEqual(install.read("dir\\b.dat"), older)
        self.assertEqual(install.partial_files(), [])
        self.assertEqual(sorted(install.outside_game()), [os.path.join("download", "qupdater.xml")])
        self.assertIsNone(install.client_record())
        with serve(files) as server:
            report = install.run()
        self.assertEqual(report["exit_code"], 0)
        self.assertEqual(server.paths_requested(), [MANIFEST, server_path("dir\\b.dat"), server_path("c.dat")])
        for path, data in content.items():
            self.assertEqual(install.read(path), data)
        self.assertEqual(install.partial_files(), [])
        self.assertClientStartedWith(install)

    def test_a_run_ended_mid_download_leaves_the_old_copy_and_the_next_run_cleans_up(self):
        content = {"first.dat": os.urandom(3000), "sub\\big.dat": os.urandom(40000)}
        older = b"older big file"
        files = {MANIFEST: manifest([(p, md5_upper(d)) for p, d in content.items()])}
        files.update({server_path(p): d for p, d in content.items()})
        install = Install()
        install.put("sub\\big.dat", older)
        # A partial file some earlier run left in a directory no longer listed.
        install.put("gone\\qalUpdate.part", b"stale")
        with serve(files) as server:
            server.slow_pause = 0.8
            server.fail(server_path("sub\\big.dat"), "slow")
            report = install.run(kill_after_ms=7000)
        self.assertTrue(report["killed"], report)
        self.assertIn(server_path("sub\\big.dat"), server.paths_requested())
        self.assertEqual(install.read("sub\\big.dat"), older)
        self.assertLessEqual(len(install.partial_files()), 1, install.partial_files())
        with serve(files) as server:
            report = install.run()
        self.assertEqual(report["exit_code"], 0)
        for path, data in content.items():
            self.assertEqual(install.read(path), data)
        self.assertEqual(install.partial_files(), [])
        self.assertClientStartedWith(install)

    def test_fetched_files_are_proven_by_their_digest_only_when_one_is_listed(self):
        # Without a well-formed digest a 200 is taken as fetched (and fetched
        # again on every run); with one, other bytes fail the update.
        install = Install()
        body = b"served bytes"
        files = {MANIFEST: manifest([("lower.dat", md5_upper(body).lower()), ("nover.dat", None)]),
                 server_path("lower.dat"): body, server_path("nover.dat"): body}
        with serve(files) as server:
            server.fail(server_path("lower.dat"), "other_bytes")
            report = install.run()
        self.assertEqual(report["exit_code"], 0)
        self.assertEqual(report["boxes"], [])
        self.assertEqual(install.read("lower.dat"), bytes(b ^ 0x5A for b in body))
        self.assertEqual(install.read("nover.dat"), body)
        self.assertClientStartedWith(install)

    def test_a_chinese_installation_directory_works_under_code_page_936(self):
        install = Install(name="奥文 游戏", client_wait_ms=500)
        content = {"top.bin": os.urandom(2000), "data\\sub.dat": b"nested"}
        files = {MANIFEST: manifest([(p, md5_upper(d)) for p, d in content.items()])}
        files.update({server_path(p): d for p, d in content.items()})
        with serve(files) as server:
            report = install.run(env={"LANG": "zh_CN.UTF-8", "LC_ALL": "zh_CN.UTF-8"})
        self.assertEqual(report["exit_code"], 0, report)
        self.assertEqual(report["boxes"], [])
        self.assertEqual(install.read("top.bin"), content["top.bin"])
        self.assertEqual(install.read("data\\sub.dat"), content["data\\sub.dat"])
        self.assertClientStartedWith(install)
        # Everything current: nothing more is fetched.
        with serve(files) as server:
            report = install.run(env={"LANG": "zh_CN.UTF-8", "LC_ALL": "zh_CN.UTF-8"})
        self.assertEqual(report["exit_code"], 0)
        self.assertEqual(server.paths_requested(), [MANIFEST])

    def test_closing_the_window_during_a_download_ends_with_0(self):
        install = Install()
        files = {MANIFEST: manifest([("big.dat", "00"), ("next.dat", "00")]),
                 server_path("big.dat"): os.urandom(20000), server_path("next.dat"): b"n"}
        with serve(files) as server:
            server.slow_pause = 0.5
            server.fail(server_path("big.dat"), "slow")
            report = install.run(on_window=["SimpleWindow:%d:0:0:1500" % WM_CLOSE])
        self.assertEqual(report["exit_code"], 0)
        self.assertEqual(report["boxes"], [])
        self.assertNotIn(server_path("next.dat"), server.paths_requested())
        self.assertIsNone(install.client_record())

    def test_command_2013_ends_with_100_and_other_commands_do_nothing(self):
        files = {MANIFEST: manifest([("big.dat", "00")]), server_path("big.dat"): os.urandom(20000)}
        install = Install()
        with serve(files) as server:
            server.slow_pause = 0.5
            server.fail(server_path("big.dat"), "slow")
            report = install.run(on_window=["SimpleWindow:%d:2013:0:1000" % WM_COMMAND])
        self.assertEqual(report["exit_code"], 100)
        self.assertEqual(report["boxes"], [])
        self.assertIsNone(install.client_record())

        install = Install()
        with serve(files) as server:
            server.slow_pause = 0.5
            server.fail(server_path("big.dat"), "slow")
            report = install.run(on_window=[
                "SimpleWindow:%d:%d:0:600" % (WM_COMMAND, (1 << 16) | 2013),  # notification in the high word
                "SimpleWindow:%d:2012:0:900" % WM_COMMAND,
                "SimpleWindow:%d:1:0:1200" % WM_COMMAND,
                "SimpleWindow:%d:0:0:2500" % WM_CLOSE])
        self.assertEqual(report["exit_code"], 0)  # only the close ended it
        self.assertGreater(report["elapsed_ms"], 2000)

    def test_arguments_without_http_are_refused(self):
        for args in ("HTTP://127.0.0.1/entergame.htm?x=1", "", "ftp://host/file"):
            with self.subTest(args=args):
                install = Install()
                with serve({MANIFEST: manifest([])}) as server:
                    report = install.run(args=args, answers=["IDOK"])
                self.assertEqual(report["exit_code"], 0)
                self.assertEqual(boxes_of(report), [{"caption": "", "text": "参数异常"}])
                self.assertEqual(server.requests, [])
                self.assertFalse(os.path.exists(os.path.join(install.dir, "download")))
                self.assertIsNone(install.client_record())

    def test_progress_window_geometry_and_drawing(self):
        from PIL import Image, ImageChops
        install = Install()
        files = {MANIFEST: manifest([("first.dat", "00"), ("second.dat", "00")], version="2.3.4.5"),
                 server_path("first.dat"): os.urandom(40000), server_path("second.dat"): os.urandom(40000)}
        shots = os.path.join(install.root, "shots")
        os.makedirs(shots)
        with serve(files) as server:
            server.slow_pause = 0.15
            server.fail(server_path("first.dat"), "slow")
            server.fail(server_path("second.dat"), "hold")
            box = {}
            runner = threading.Thread(target=lambda: box.update(report=install.run(
                dump_on=["SimpleWindow:800"], answers=["IDOK"],
                # Repaint during the last download: the counter then shows 2/2.
                on_window=["SimpleWindow:%d:0:0:6500" % WM_PAINT])))
            runner.start()
            self._wait_for(server, server_path("first.dat"))
            time.sleep(1.5)
            first = qaltest.screenshot(os.path.join(shots, "first.png"))
            self._wait_for(server, server_path("second.dat"))
            time.sleep(7.5)
            last = qaltest.screenshot(os.path.join(shots, "last.png"))
            server.release.set()  # the held body ends short: a failed download
            runner.join(90)
        report = box["report"]
        self.assertEqual(report["exit_code"], 100)
        self.assertEqual(boxes_of(report), [FAILED])

        windows = [w for d in report["dumps"] if d["trigger"] == "SimpleWindow"
                   for w in d["windows"] if w["class"] == "SimpleWindow"]
        self.assertEqual(len(windows), 1, report["dumps"])
        window = windows[0]
        self.assertEqual(window["title"], "Orvane")
        self.assertEqual(window["rect"], [555, 370, 1365, 710])
        style = int(window["style"], 16)
        self.assertEqual(style & 0x00C70000, 0, hex(style))  # no caption, frame or boxes
        self.assertEqual(style & 0x06080000, 0x06080000, hex(style))  # clipping, system menu
        self.assertTrue(window["visible"])
        bars = [c for c in window["children"] if c["class"] == "msctls_progress32"]
        self.assertEqual(len(bars), 1)
        self.assertEqual(bars[0]["client_rect"], [5, 280, 805, 296])
        self.assertEqual(int(bars[0]["style"], 16) & 0xFFFF0000, 0x50000000)

        background = Image.open(BACKGROUND).convert("RGB")

        def changed_pixels(shot, rect):
            x, y, w, h = rect
            with Image.open(shot) as image:
                drawn = image.convert("RGB").crop((WINDOW_AT[0] + x, WINDOW_AT[1] + y,
                                                   WINDOW_AT[0] + x + w, WINDOW_AT[1] + y + h))
            diff = ImageChops.difference(drawn, background.crop((x, y, x + w, y + h))).convert("L")
            return drawn, sum(1 for v in diff.getdata() if v > 60)

        # The background is drawn where nothing else lies.
        _, stray = changed_pixels(first, (0, 0, 810, 270))
        self.assertLess(stray, 810 * 270 // 50)
        counter_first, drawn_first = changed_pixels(first, (20, 300, 250, 30))
        counter_last, drawn_last = changed_pixels(last, (20, 300, 250, 30))
        _, version_drawn = changed_pixels(last, (710, 300, 100, 25))
        self.assertGreater(drawn_first, 100)
        self.assertGreater(drawn_last, 100)
        self.assertGreater(version_drawn, 20)
        self.assertNotEqual(list(counter_first.getdata()), list(counter_last.getdata()),
                            "the counter did not change")
        # Kept in the build tree for a look (and for the documentation).
        with Image.open(last) as image:
            image.crop((WINDOW_AT[0], WINDOW_AT[1], WINDOW_AT[0] + 810, WINDOW_AT[1] + 340)).save(
                qaltest.build_path("updater-window.png"))

    def _wait_for(self, server, path, seconds=60):
        deadline = time.time() + seconds
        while path not in server.paths_requested():
            if time.time() > deadline:
                self.fail("never requested: " + path)
            time.sleep(0.05)


if __name__ == "__main__":
    qaltest.main()
