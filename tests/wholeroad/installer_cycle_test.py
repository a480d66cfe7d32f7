"""From scripts/release.sh to a player's prefix and back: the release command
builds the same installer twice from the same inputs, signs it and the
programs with a throwaway certificate, and the installer, on a fresh prefix
of this test's own, installs per user (into a directory with Chinese
characters, then the default one), the installed updater brings a game from
a loopback server, a newer installer keeps that game, and the uninstaller
leaves nothing of ours behind, while what the player put there stays."""
import hashlib
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.environ["QAL_SOURCE_DIR"], "tests", "support"))
import qaltest  # noqa: E402

PORT = int(os.environ["QAL_INSTALLER_TEST_PORT"])
STUB = os.environ["QAL_STUB_CLIENT_EXE"]
KEY_DIR = os.environ["QAL_TEST_KEY_DIR"]
BASE = "/qal_lianyun/micro/"
USER = os.environ.get("USER") or "root"
KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane"
FEATURE_KEY = "HKCU\\Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION"
UTF8 = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}


def run(*args, **kwargs):
    return subprocess.run(list(args), capture_output=True, timeout=1200, **kwargs)


class InstallerCycle(qaltest.unittest.TestCase):
    def setUp(self):
        self.work = qaltest.make_temp_dir("installer-")
        self.home = os.path.join(self.work, "home")
        os.makedirs(self.home)
        self.env = dict(UTF8, HOME=self.home)

    def release(self, version, out, build_root, signed, check=False):
        config = os.path.join(self.work, "wdConfig.ini")
        with open(config, "w", encoding="ascii") as f:
            f.write("[config]\r\nname=Orvane\r\nloginURL=http://127.0.0.1:%d/login/\r\n" % PORT)
        args = ["bash", os.path.join(qaltest.SOURCE_DIR, "scripts", "release.sh"), "--version", version,
                "--base-url", "http://127.0.0.1:%d%s" % (PORT, BASE), "--config", config,
                "--public-key", os.path.join(KEY_DIR, "first.pub.pem"), "-o", out]
        if signed:
            args += ["--sign-cert", self.pfx, "--sign-pass-file", self.pass_file]
        if not check:
            args.append("--no-check")
        made = run(*args, env=dict(os.environ, QAL_RELEASE_BUILD_ROOT=build_root))
        self.assertEqual(made.returncode, 0, made.stderr.decode(errors="replace")[-3000:])
        installer = os.path.join(out, "OrvaneSetup-%s.exe" % version)
        with open(installer, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        with open(installer + ".sha256") as f:
            self.assertEqual(f.read(), "%s  OrvaneSetup-%s.exe\n" % (digest, version))
        self.assertEqual(sorted(os.listdir(out)), sorted(["OrvaneSetup-%s.exe" % version,
                                                          "OrvaneSetup-%s.exe.sha256" % version, "front-door", "tools"]))
        # Beside it, the programs to offer players through the manifest, and
        # the operators' tool for Windows and Linux.
        front_door = os.path.join(out, "front-door")
        self.assertEqual(sorted(os.listdir(front_door)), ["VERSION", "i686", "x86_64"])
        for arch in ("i686", "x86_64"):
            self.assertEqual(sorted(os.listdir(os.path.join(front_door, arch))), ["qalLogin.exe", "qalUpdate.exe"])
        with open(os.path.join(front_door, "VERSION")) as f:
            self.assertEqual(f.read(), version + "\n")
        tool = run(os.path.join(out, "tools", "linux", "qalManifest"), "--help")
        self.assertEqual(tool.returncode, 0, tool.stderr)
        self.assertIn(b"--front-door", tool.stdout)
        self.assertTrue(os.path.isfile(os.path.join(out, "tools", "windows", "qalManifest.exe")))
        if signed:
            for path in [os.path.join(front_door, a, n) for a in ("i686", "x86_64")
                         for n in ("qalLogin.exe", "qalUpdate.exe")] + [
                    os.path.join(out, "tools", "windows", "qalManifest.exe")]:
                self.assert_signed(path)
        return installer

    def make_certificate(self):
        key, cert = os.path.join(self.work, "sign.key"), os.path.join(self.work, "sign.crt")
        self.pfx, self.pass_file = os.path.join(self.work, "sign.pfx"), os.path.join(self.work, "pass.txt")
        with open(self.pass_file, "w") as f:
            f.write("throwaway")
        for args in (["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                      "-days", "30", "-subj", "/CN=Orvane test signer", "-addext", "extendedKeyUsage=codeSigning"],
                     ["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", self.pfx,
                      "-passout", "file:" + self.pass_file]):
            self.assertEqual(run(*args).returncode, 0)
        self.cert = cert

    def assert_signed(self, path):
        checked = run("osslsigncode", "verify", "-CAfile", self.cert, "-in", path)
        self.assertEqual(checked.returncode, 0, (path, checked.stdout.decode(errors="replace")))

    def wine(self, *args):
        return qaltest.run_windows(*args, timeout=300, env=self.env)

    def fresh_prefix(self):
        prefix = qaltest.wine_prefix()
        qaltest.remove_prefix(prefix)
        subprocess.run(["bash", "-c", 'source "$1"; qal_ensure_display "$2" && qal_ensure_prefix "$2" "$3"', "-",
                        os.path.join(qaltest.SOURCE_DIR, "scripts", "wine-env.sh"), qaltest.BUILD_DIR,
                        os.path.join(qaltest.SOURCE_DIR, "scripts")],
                       env=dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEARCH="win64",
                                WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", **self.env),
                       check=True, capture_output=True, timeout=300)
        self.users = os.path.join(prefix, "drive_c", "users", USER)
        # A fresh prefix links its Desktop and the like into $HOME.
        for name in os.listdir(self.users):
            path = os.path.join(self.users, name)
            if os.path.islink(path):
                os.unlink(path)
                os.makedirs(path)

    def snapshot(self):
        files = set()
        for d, dirs, names in os.walk(self.users):
            rel = os.path.relpath(d, self.users)
            # The system's own: temporary files, and the Internet cache the
            # download service keeps for every user.
            parts = rel.split(os.sep)
            if parts[:3] == ["AppData", "Local", "Temp"] or (
                    parts[:4] == ["AppData", "Local", "Microsoft", "Windows"] and len(parts) > 4
                    and parts[4].startswith("INet")):
                continue
            files.update(os.path.join(rel, n) for n in names + [x for x in dirs if not os.listdir(os.path.join(d, x))])
        return files

    def registry(self, key=KEY):
        """The key as reg exports it, or None when reg itself answers that the
        key is not there. A CI run once saw an export fail with no word why:
        any other failure is tried once more, then fails the test with what
        reg printed."""
        export = os.path.join(self.work, "uninstall.reg")
        for attempt in range(2):
            if attempt:
                time.sleep(1)
            if os.path.exists(export):
                os.remove(export)
            result = self.wine("reg", "export", key, qaltest.win_path(export), "/y")
            self.reg_said = (result.stdout + result.stderr).decode(errors="replace")
            if result.returncode == 0 and os.path.exists(export):
                with open(export, "rb") as f:
                    return f.read().decode("utf-16")
            # Wine 8's reg, in the C locale this test sets, for a key that is not there.
            if result.returncode == 1 and "reg: Unable to find the specified registry key" in [
                    line.strip() for line in result.stdout.decode(errors="replace").splitlines()]:
                return None
        self.fail("reg export %s failed (exit %d): %s" % (key, result.returncode, self.reg_said))

    def exported(self, key=KEY):
        """The key, which must be there: an export that finds none is tried
        once more, then the test fails with what reg printed."""
        for _ in range(2):
            text = self.registry(key)
            if text is not None:
                return text
            time.sleep(1)
        self.fail("reg export %s found no key: %s" % (key, self.reg_said))

    def uninstall(self, install_dir_windows, install_dir):
        # The uninstaller copies itself away and returns at once; a copy run
        # with _?= waits and answers its exit code.
        copy = os.path.join(self.work, "uninstall-copy.exe")
        shutil.copy(os.path.join(install_dir, "Uninstall.exe"), copy)
        self.assert_signed(copy)
        result = self.wine(copy, "/S", "_?=" + install_dir_windows)
        self.assertEqual(result.returncode, 0, result.stdout)
        os.remove(copy)

    def test_release_install_update_upgrade_uninstall(self):
        self.make_certificate()
        releases = os.path.join(qaltest.BUILD_DIR, "release-test")
        # The release's own try of its installer, once; the rest of this test
        # tries the others far more closely.
        first = self.release("1.0.3", os.path.join(self.work, "plain-1"), releases + "/a", signed=False, check=True)
        shutil.rmtree(releases + "/b-i686", ignore_errors=True)
        shutil.rmtree(releases + "/b-x86_64", ignore_errors=True)
        again = self.release("1.0.3", os.path.join(self.work, "plain-2"), releases + "/b", signed=False)
        with open(first, "rb") as a, open(again, "rb") as b:
            self.assertTrue(a.read() == b.read(), "two builds from the same inputs differ")
        setup = self.release("1.0.3", os.path.join(self.work, "signed-1"), releases + "/a", signed=True)
        newer = self.release("1.0.4", os.path.join(self.work, "signed-2"), releases + "/a", signed=True)
        for installer in (setup, newer):
            self.assert_signed(installer)

        self.fresh_prefix()
        before = self.snapshot()
        self.assertIsNone(self.registry())

        # A directory where a program cannot be written: an error, never a
        # success with half an installation. (NSIS falls back to the default
        # directory for one it cannot create at all.)
        occupied = os.path.join(self.users, "..", "..", "occupied", "Orvane", "qalLogin.exe")
        os.makedirs(occupied)
        failed = self.wine(setup, "/S", "/D=C:\\occupied\\Orvane")
        self.assertNotEqual(failed.returncode, 0)
        self.assertIsNone(self.registry())
        self.assertEqual(self.snapshot(), before)
        self.assertEqual(os.listdir(os.path.dirname(occupied)), ["qalLogin.exe"])
        shutil.rmtree(os.path.dirname(os.path.dirname(occupied)))
        # One that cannot be made at all (NSIS would fall back to the
        # default directory): an error too, and nothing installed anywhere.
        failed = self.wine(setup, "/S", "/D=Q:\\nowhere\\Orvane")
        self.assertNotEqual(failed.returncode, 0)
        self.assertIsNone(self.registry())
        self.assertEqual(self.snapshot(), before)

        # Another program listed for the same engine mode keeps its value.
        self.assertEqual(self.wine("reg", "add", FEATURE_KEY, "/v", "other.exe", "/t", "REG_DWORD", "/d", "11000",
                                   "/f").returncode, 0)

        # Into a directory with Chinese characters, then out again.
        chinese = os.path.join(self.users, "..", "..", "游戏", "奥凡")
        installed = self.wine(setup, "/S", "/D=C:\\游戏\\奥凡")
        self.assertEqual(installed.returncode, 0, installed.stdout)
        self.assertEqual(sorted(os.listdir(chinese)), ["Uninstall.exe", "qalLogin.exe", "qalUpdate.exe", "wdConfig.ini"])
        self.assertIn('"InstallLocation"="C:\\\\游戏\\\\奥凡"', self.exported())
        self.uninstall("C:\\游戏\\奥凡", chinese)
        self.assertFalse(os.path.exists(chinese))
        self.assertIsNone(self.registry())
        self.assertEqual(self.snapshot(), before)

        # The default directory, as a player gets it.
        self.assertEqual(self.wine(setup, "/S").returncode, 0)
        install = os.path.join(self.users, "AppData", "Local", "Programs", "Orvane")
        self.assertEqual(sorted(os.listdir(install)), ["Uninstall.exe", "qalLogin.exe", "qalUpdate.exe", "wdConfig.ini"])
        for name in ("qalLogin.exe", "qalUpdate.exe", "Uninstall.exe"):
            self.assert_signed(os.path.join(install, name))
        # The release's front door is the installer's, byte for byte.
        for name in ("qalLogin.exe", "qalUpdate.exe"):
            with open(os.path.join(install, name), "rb") as a, \
                    open(os.path.join(os.path.dirname(setup), "front-door", "x86_64", name), "rb") as b:
                self.assertTrue(a.read() == b.read(), name)
        with open(os.path.join(install, "qalUpdate.exe"), "rb") as f:
            program = f.read()
        pe = int.from_bytes(program[0x3C:0x40], "little")
        self.assertEqual(program[pe + 4:pe + 6], b"\x64\x86", "not the 64-bit updater on 64-bit Windows")
        menu = os.path.join(self.users, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs",
                            "Orvane", "Orvane.lnk")
        desktop = os.path.join(self.users, "Desktop", "Orvane.lnk")
        self.assertTrue(os.path.isfile(menu) and os.path.isfile(desktop))
        self.assertEqual(os.listdir(self.home), [], "something was written into $HOME")
        values = self.exported()
        windows_dir = "C:\\\\users\\\\%s\\\\AppData\\\\Local\\\\Programs\\\\Orvane" % USER
        for line in ('"DisplayName"="Orvane"', '"DisplayVersion"="1.0.3"', '"Publisher"="Orvane"',
                     '"DisplayIcon"="%s\\\\qalLogin.exe,0"' % windows_dir, '"InstallLocation"="%s"' % windows_dir,
                     '"UninstallString"="\\"%s\\\\Uninstall.exe\\""' % windows_dir,
                     '"QuietUninstallString"="\\"%s\\\\Uninstall.exe\\" /S"' % windows_dir, '"EstimatedSize"=dword:'):
            self.assertIn(line.lower(), values.lower())
        # The login page in the engine's current standards mode.
        features = self.exported(FEATURE_KEY).lower()
        self.assertIn('"qallogin.exe"=dword:00002af9', features)
        self.assertIn('"other.exe"=dword:00002af8', features)

        # The installed updater brings the game and starts its micro-client;
        # the manifest also offers the next release's front door, which the
        # updater takes, and "Apps & features" shows its version.
        with open(STUB, "rb") as f:
            client = f.read()
        game = {"PelMicroLauncher.exe": client, "data\\map.dat": os.urandom(20000)}
        lines = ["<update version='1.0.3' sequence='5'>"]
        next_front_door = {}
        for name in ("qalLogin.exe", "qalUpdate.exe"):
            with open(os.path.join(os.path.dirname(newer), "front-door", "x86_64", name), "rb") as f:
                next_front_door[name] = f.read()
            data = next_front_door[name]
            lines.append("<frontdoor arch='x86_64' name='%s' ver='%s' sha256='%s' size='%d' version='1.0.4'/>" % (
                name, hashlib.md5(data).hexdigest().upper(), hashlib.sha256(data).hexdigest(), len(data)))
        for path, data in game.items():
            lines.append("<file path='%s' ver='%s' sha256='%s'/>" % (path, hashlib.md5(data).hexdigest().upper(),
                                                                      hashlib.sha256(data).hexdigest()))
        manifest = qaltest.sign_manifest(("\n".join(lines + ["</update>"]) + "\n").encode(),
                                         os.path.join(KEY_DIR, "first.pem"))
        served = {BASE + "qupdater.xml": manifest}
        served.update({BASE + "game/" + p.replace("\\", "/"): d for p, d in game.items()})
        served.update({BASE + "frontdoor/x86_64/%s/%s" % (hashlib.md5(d).hexdigest().upper(), n): d
                       for n, d in next_front_door.items()})
        # Started through another drive's name for the installation than
        # the entry's (Wine's Z:): the entry is still this installation's.
        line = qaltest.quote_arg(qaltest.win_path(os.path.join(install, "qalUpdate.exe"))) + \
            ' http://127.0.0.1:9/login/entergame.htm?uid=1 "C:\\x\\qalLogin.exe"'
        with qaltest.ResourceServer(port=PORT, files=served):
            report = qaltest.run_exact(line, timeout_ms=120000, answers=["IDOK"], env=self.env)
        self.assertEqual((report["exit_code"], report["boxes"]), (0, []), report)
        self.assertTrue(os.path.exists(os.path.join(install, "game", "launch-record.txt")))
        for name, data in next_front_door.items():
            with open(os.path.join(install, name), "rb") as f:
                self.assertTrue(f.read() == data, name)
        self.assertIn('"displayversion"="1.0.4"', self.exported().lower())
        kept = {}
        for d, _, names in os.walk(os.path.join(install, "game")):
            for n in names:
                with open(os.path.join(d, n), "rb") as f:
                    kept[os.path.join(d, n)] = f.read()

        # What the player keeps there, and beside it.
        mine = os.path.join(install, "我的截图.png")
        beside = os.path.join(install, "..", "notes.txt")
        for path in (mine, beside):
            with open(path, "wb") as f:
                f.write(b"the player's")

        # A newer installer over it keeps the game.
        self.assertEqual(self.wine(newer, "/S").returncode, 0)
        self.assertIn('"displayversion"="1.0.4"', self.exported().lower())
        for path, data in kept.items():
            with open(path, "rb") as f:
                self.assertEqual(f.read(), data, path)
        self.assertTrue(os.path.exists(os.path.join(install, "download", "qupdater.xml")))

        self.uninstall("C:\\users\\%s\\AppData\\Local\\Programs\\Orvane" % USER, install)
        self.assertIsNone(self.registry())
        features = self.exported(FEATURE_KEY).lower()
        self.assertNotIn("qallogin.exe", features)
        self.assertIn('"other.exe"=dword:00002af8', features)
        self.assertEqual(sorted(os.listdir(install)), ["我的截图.png"])
        self.assertTrue(os.path.exists(beside))
        left = self.snapshot() - before
        self.assertEqual(left, {os.path.join("AppData", "Local", "Programs", "Orvane", "我的截图.png"),
                                os.path.join("AppData", "Local", "Programs", "notes.txt")})
        qaltest.kill_prefix_processes()


if __name__ == "__main__":
    qaltest.main()
