"""The whole road under Wine, each program real and in a process of its own:
the player's installation holds qalLogin.exe, qalUpdate.exe and wdConfig.ini;
the operator's loopback server serves the login page and a game tree whose
manifest qalManifest built. The login page's link to the game-entry address is
followed by a stand-in browser control (Wine renders no pages), registered in
this test's own prefix under the class id of "shell.Explorer.2"; from the
launcher's listener on, everything is the shipped code."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.environ["QAL_SOURCE_DIR"], "tests", "support"))
import qaltest  # noqa: E402

PORT = int(os.environ["QAL_TEST_HTTP_PORT"])
LAUNCHER = os.environ["QAL_LAUNCHER_EXE"]
UPDATER = os.environ["QAL_UPDATER_EXE"]
MANIFEST_TOOL = os.environ["QAL_MANIFEST_TOOL_EXE"]
STUB = os.environ["QAL_STUB_CLIENT_EXE"]
STAND_IN = os.environ["QAL_STANDIN_BROWSER_DLL"]
STAND_IN_CLSID = "{5C0E7A51-3B7D-4E2A-9C61-0F4B8D2E7A13}"
BASE = "/qal_lianyun/micro/"
LOGIN_PAGE = "/login/index.htm"
ENTRY = "http://127.0.0.1:%d/login/entergame.htm?uid=42&sign=7f3a&zone=2" % PORT
URL_BASE = "http://127.0.0.1:%d%s" % (PORT, BASE)


def register_stand_in_browser():
    env = qaltest.wine_env()  # brings the prefix up first
    view = "/reg:32" if qaltest.TARGET == "i686" else "/reg:64"
    server = "HKCR\\CLSID\\%s\\InprocServer32" % STAND_IN_CLSID
    for args in (["reg", "add", server, "/ve", "/d", qaltest.win_path(STAND_IN), "/f", view],
                 ["reg", "add", server, "/v", "ThreadingModel", "/d", "Apartment", "/f", view],
                 ["reg", "add", "HKCR\\shell.Explorer.2\\CLSID", "/ve", "/d", STAND_IN_CLSID, "/f", view]):
        # Each is the same with /f whether it ran before or not, so a run
        # that fails is tried once more, and what it printed is shown. The
        # output goes to a file: Wine's services, started by the first
        # program, would hold a pipe open.
        for attempt in (1, 2):
            with tempfile.TemporaryFile() as out:
                run = subprocess.run(["wine", *args], env=env, timeout=120, stdout=out, stderr=out)
                out.seek(0)
                printed = out.read().decode(errors="replace")
            if run.returncode == 0:
                break
            sys.stderr.write("wine %s: exit %d: %s\n" % (" ".join(args), run.returncode, printed))
            time.sleep(1)
        run.check_returncode()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


class WholeRoad(qaltest.unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        register_stand_in_browser()

    def setUp(self):
        root = qaltest.make_temp_dir("whole-road-")
        # The operator's side: the game tree, its manifest by qalManifest.
        self.served = os.path.join(root, "server")
        game = os.path.join(self.served, BASE.strip("/"), "game")
        with open(STUB, "rb") as f:
            stub = f.read()
        self.tree = {
            "PelMicroLauncher.exe": stub,
            "wait-ms.txt": b"1500",
            "data\\maps\\town.dat": os.urandom(300000),
            "sub dir\\x y.dat": b"with blanks\n" * 40,
            "readme.txt": b"Orvane\n",
        }
        for path, data in self.tree.items():
            write(os.path.join(game, *path.split("\\")), data)
        manifest = os.path.join(self.served, BASE.strip("/"), "qupdater.xml")
        made = qaltest.run_windows(MANIFEST_TOOL, "build", qaltest.win_path(game), "--version", "1.0.3",
                                   "-o", qaltest.win_path(manifest), timeout=300)
        self.assertEqual(made.returncode, 0, made.stdout + made.stderr)

        # The player's side, as installed.
        self.install = os.path.join(root, "Orvane Game")
        os.makedirs(self.install)
        shutil.copy(LAUNCHER, os.path.join(self.install, "qalLogin.exe"))
        shutil.copy(UPDATER, os.path.join(self.install, "qalUpdate.exe"))
        config = ("[config]\r\nname=Orvane\r\nloginURL=http://127.0.0.1:%d%s\r\n"
                  "webEnter=/door/enter.php?\r\nurlBase=%s\r\n") % (PORT, LOGIN_PAGE, URL_BASE)
        write(os.path.join(self.install, "wdConfig.ini"), config.encode("ascii"))
        self.cwd = os.path.join(root, "elsewhere")
        os.makedirs(self.cwd)
        page = ('<html><body><p>Welcome</p><a id="enter" href="%s">进入游戏</a></body></html>'
                % ENTRY.replace("&", "&amp;"))
        self.pages = {LOGIN_PAGE: page.encode("utf-8")}

    def start_launcher(self):
        with qaltest.ResourceServer(port=PORT, root=self.served, files=self.pages) as server:
            line = qaltest.quote_arg(qaltest.win_path(os.path.join(self.install, "qalLogin.exe")))
            report = qaltest.run_exact(line, cwd=self.cwd, timeout_ms=180000, follow=["qalUpdate.exe"])
        self.bytes_sent = server.bytes_sent
        return report, server.paths_requested()

    def client_command_line(self):
        record = os.path.join(self.install, "game", "launch-record.txt")
        if not os.path.exists(record):
            return None
        with open(record, encoding="utf-8") as f:
            return f.read().split("\n")[0]

    def test_from_the_login_page_to_the_micro_client_and_again_with_everything_current(self):
        report, requested = self.start_launcher()
        # The launcher handed off and is gone.
        self.assertFalse(report["timed_out"], report)
        self.assertEqual(report["exit_code"], 0)
        self.assertEqual(report["boxes"], [])
        # The entry navigation was cancelled: the server never saw it.
        self.assertEqual(requested[0], LOGIN_PAGE)
        self.assertNotIn("/login/entergame.htm", requested)
        game_requests = sorted(p for p in requested if p.startswith(BASE + "game/"))
        self.assertEqual(game_requests, sorted(BASE + "game/" + p.replace("\\", "/") for p in self.tree))
        self.assertEqual(requested[1], BASE + "qupdater.xml")
        # The updater showed its progress window, started the micro-client it
        # had just fetched, waited for it and ended with 0.
        updaters = report["followed"]
        self.assertEqual(len(updaters), 1, report)
        self.assertTrue(updaters[0]["ended"], report)
        self.assertEqual(updaters[0]["exit_code"], 0)
        self.assertIn("SimpleWindow", updaters[0]["windows"])
        for path, data in self.tree.items():
            with open(os.path.join(self.install, "game", *path.split("\\")), "rb") as f:
                self.assertEqual(hashlib.md5(f.read()).hexdigest(), hashlib.md5(data).hexdigest(), path)
        launcher_path = qaltest.win_path(os.path.join(self.install, "qalLogin.exe"))
        parameters = '%s&urlBase=%s "%s"' % (ENTRY, URL_BASE, launcher_path)
        command_line = self.client_command_line()
        self.assertIsNotNone(command_line, "the micro-client was not started")
        self.assertTrue(command_line.endswith("PelMicroLauncher.exe " + parameters)
                        or command_line.endswith('PelMicroLauncher.exe" ' + parameters), command_line)
        self.assertTrue(os.path.exists(os.path.join(self.install, "game", "launch-ended.txt")))

        # Everything current: no window, and the micro-client starts at once.
        os.remove(os.path.join(self.install, "game", "launch-record.txt"))
        report, requested = self.start_launcher()
        self.assertEqual(report["exit_code"], 0)
        self.assertEqual(requested, [LOGIN_PAGE, BASE + "qupdater.xml"])
        updaters = report["followed"]
        self.assertEqual(len(updaters), 1, report)
        self.assertEqual(updaters[0]["exit_code"], 0)
        self.assertEqual(updaters[0]["windows"], [])
        self.assertIsNotNone(self.client_command_line())

        # The operator publishes a release that changes a little of the big
        # file, with patches from the version players have: theirs is made
        # from its patch, and the server sends little more than that.
        game = os.path.join(self.served, BASE.strip("/"), "game")
        older = os.path.join(os.path.dirname(self.served), "1.0.3")
        shutil.copytree(game, older)
        town = bytearray(self.tree["data\\maps\\town.dat"])
        town[150000:151000] = os.urandom(1000)
        self.tree["data\\maps\\town.dat"] = bytes(town)
        self.tree["readme.txt"] = b"Orvane 1.0.4\n"
        for path in ("data\\maps\\town.dat", "readme.txt"):
            write(os.path.join(game, *path.split("\\")), self.tree[path])
        made = qaltest.run_windows(MANIFEST_TOOL, "build", qaltest.win_path(game), "--version", "1.0.4",
                                   "--patch-from", qaltest.win_path(older),
                                   "--patch-dir", qaltest.win_path(os.path.join(self.served, BASE.strip("/"), "patch")),
                                   "-o", qaltest.win_path(os.path.join(self.served, BASE.strip("/"), "qupdater.xml")),
                                   timeout=300)
        self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
        report, requested = self.start_launcher()
        self.assertEqual(report["exit_code"], 0)
        self.assertEqual(report["followed"][0]["exit_code"], 0)
        with open(os.path.join(older, "data", "maps", "town.dat"), "rb") as f:
            was = f.read()
        patch = BASE + "patch/%s-%s.zst" % (hashlib.md5(was).hexdigest().upper(),
                                            hashlib.md5(town).hexdigest().upper())
        self.assertEqual(requested, [LOGIN_PAGE, BASE + "qupdater.xml", patch, BASE + "game/readme.txt"])
        for path, data in self.tree.items():
            with open(os.path.join(self.install, "game", *path.split("\\")), "rb") as f:
                self.assertTrue(f.read() == data, path)
        self.assertLess(self.bytes_sent, 20000)

    def test_a_new_front_door_reaches_the_player_on_the_next_hand_off(self):
        # The first start brings the game.
        report, _ = self.start_launcher()
        self.assertEqual(report["followed"][0]["exit_code"], 0, report)

        # The operator publishes the next release's programs (here this
        # build's, with bytes after their images: other digests, the same
        # programs) with qalManifest --front-door.
        site = os.path.join(self.served, BASE.strip("/"))
        release = os.path.join(os.path.dirname(self.served), "front-door")
        new = {}
        for name, program in (("qalLogin.exe", LAUNCHER), ("qalUpdate.exe", UPDATER)):
            with open(program, "rb") as f:
                new[name] = f.read() + b"\0Orvane 1.0.5\n"
            write(os.path.join(release, qaltest.TARGET, name), new[name])
        write(os.path.join(release, "VERSION"), b"1.0.5\n")
        made = qaltest.run_windows(MANIFEST_TOOL, "build", qaltest.win_path(os.path.join(site, "game")), "--version",
                                   "1.0.5", "--front-door", qaltest.win_path(release), "--front-door-dir",
                                   qaltest.win_path(os.path.join(site, "frontdoor")),
                                   "-o", qaltest.win_path(os.path.join(site, "qupdater.xml")), timeout=300)
        self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
        links = {}
        for name in new:
            links[name] = os.path.join(os.path.dirname(self.install), name + " as it was")
            os.link(os.path.join(self.install, name), links[name])
            with open(links[name], "rb") as f:
                links[name] = (links[name], f.read())

        # The next hand-off: the launcher ends, the updater replaces both
        # programs, the new updater goes on and starts the micro-client once,
        # with the launcher's parameters.
        os.remove(os.path.join(self.install, "game", "launch-record.txt"))
        report, requested = self.start_launcher()
        self.assertEqual((report["exit_code"], report["boxes"]), (0, []), report)
        self.assertEqual([u["exit_code"] for u in report["followed"]], [0, 0], report)
        self.assertEqual(sorted(p for p in requested if "/frontdoor/" in p),
                         sorted(BASE + "frontdoor/%s/%s/%s" % (qaltest.TARGET, hashlib.md5(d).hexdigest().upper(), n)
                                for n, d in new.items()))
        for name, data in new.items():
            with open(os.path.join(self.install, name), "rb") as f:
                self.assertTrue(f.read() == data, name)
            # Replaced by renames: the old file's bytes were never written.
            path, was = links[name]
            with open(path, "rb") as f:
                self.assertTrue(f.read() == was, name)
        self.assertIsNotNone(self.client_command_line())

        # Killed between the updater's two renames: its image lies aside and
        # no qalUpdate.exe is there. The launcher puts it back, and the
        # hand-off after that runs the new programs with nothing to replace.
        os.rename(os.path.join(self.install, "qalUpdate.exe"), os.path.join(self.install, "qalUpdate.exe.00001234.old"))
        os.remove(os.path.join(self.install, "game", "launch-record.txt"))
        report, requested = self.start_launcher()
        self.assertEqual((report["exit_code"], report["boxes"]), (0, []), report)
        self.assertEqual([u["exit_code"] for u in report["followed"]], [0], report)
        self.assertFalse([p for p in requested if "/frontdoor/" in p], requested)
        self.assertEqual(sorted(os.listdir(self.install)), ["download", "game", "qalLogin.exe", "qalUpdate.exe",
                                                            "wdConfig.ini"])
        with open(os.path.join(self.install, "qalUpdate.exe"), "rb") as f:
            self.assertTrue(f.read() == new["qalUpdate.exe"])
        self.assertIsNotNone(self.client_command_line())

    def test_a_script_error_on_the_login_page_opens_no_dialog_and_its_scripts_go_on(self):
        # The stand-in asks the launcher's site as the HTML engine does on a
        # script error, and writes the answer into this file.
        record = os.path.join(self.cwd, "script-error.txt")
        page = ('<html><head><meta name="script-error-report" content="%s"></head><body>'
                '<script>notDefinedAnywhere();</script><a id="enter" href="%s">进入游戏</a></body></html>'
                % (qaltest.win_path(record), ENTRY.replace("&", "&amp;")))
        self.pages[LOGIN_PAGE] = page.encode("utf-8")
        report, requested = self.start_launcher()
        with open(record) as f:
            answer = f.read()
        # Shown: no (S_OK, and VARIANT_TRUE: go on running the page's
        # scripts); another command of the group is left to the engine
        # (OLECMDERR_E_NOTSUPPORTED), as when the site had no command target.
        self.assertEqual(answer, "answer=00000000 vt=11 value=-1 other=80040100\n")
        self.assertEqual((report["exit_code"], report["boxes"]), (0, []), report)
        self.assertEqual(report["followed"][0]["exit_code"], 0)
        self.assertIn(BASE + "qupdater.xml", requested)

if __name__ == "__main__":
    qaltest.main()
