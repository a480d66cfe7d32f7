"""qalManifest natively through its command line: exit codes, where the
manifest goes, what a failed run leaves behind, and verify's findings."""
import hashlib
import os
import shutil
import subprocess
import tempfile
import unittest

TOOL = os.environ["QAL_MANIFEST_EXE"]


def run(*args, cwd=None):
    return subprocess.run([TOOL, *args], cwd=cwd, capture_output=True, timeout=60)


def md5_upper(data):
    return hashlib.md5(data).hexdigest().upper()


class ManifestCli(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="qal-cli-")
        self.game = os.path.join(self.root, "game")
        self.content = {"top.bin": os.urandom(3000), "sub dir/x y.dat": b"blank", "a0.dat": b"",
                        "a/z.dat": b"z" * 70000, "数据/地图.dat": b"map", "q&'.dat": b"q"}
        for path, data in self.content.items():
            self.put(path, data)
        os.makedirs(os.path.join(self.game, "empty", "deeper"))

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def put(self, path, data):
        full = os.path.join(self.game, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)

    def leftovers(self):
        return sorted(os.listdir(self.root))

    def test_usage_errors_exit_2_with_the_usage_and_help_exits_0(self):
        out = os.path.join(self.root, "m.xml")
        for args in [(), ("publish", self.game), ("build",), ("build", self.game),
                     ("build", self.game, "--version"), ("build", self.game, "--version", "1", "extra"),
                     ("build", self.game, "--version", "1", "--frobnicate"),
                     ("build", self.game, "--version", "1", "-o"),
                     ("build", self.game, "--version", "1", "--code-page", "GBK"),
                     ("build", self.game, "--version", "1", "--code-page", "9999"),
                     ("build", self.game, "--version", "1", "--base-url", "http://h/no-slash"),
                     ("build", self.game, "--version", "ä"),  # GBK has no ä
                     ("verify", out), ("verify", out, self.game, "extra"),
                     ("verify", out, self.game, "--version", "1")]:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(b"Usage:", result.stderr)
                self.assertEqual(result.stdout, b"")
        self.assertFalse(os.path.exists(out))
        for args in [("--help",), ("-h",), ("build", "-h")]:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 0)
                for option in (b"build", b"verify", b"--version", b"-o", b"--code-page", b"--install-dir",
                               b"--base-url", b"--help", b"http://updates.example.com/qal_lianyun/micro/"):
                    self.assertIn(option, result.stdout)

    def test_build_writes_the_sorted_manifest_identically_every_time(self):
        first = run("build", self.game, "--version", "1.0.3")
        self.assertEqual(first.returncode, 0, first.stderr)
        self.assertEqual(first.stderr, b"")  # not a terminal: results only
        expected = ['<?xml version="1.0" encoding="GBK"?>', '<update version="1.0.3">']
        for path in ["a0.dat", "a\\z.dat", "q&amp;&apos;.dat", "sub dir\\x y.dat", "top.bin", "数据\\地图.dat"]:
            data = self.content[path.replace("\\", "/").replace("&amp;", "&").replace("&apos;", "'")]
            expected.append('  <file path="%s" ver="%s"/>' % (path, md5_upper(data)))
        expected.append("</update>")
        self.assertEqual(first.stdout, ("\n".join(expected) + "\n").encode("gbk"))
        self.assertEqual(run("build", self.game, "--version", "1.0.3").stdout, first.stdout)

        out = os.path.join(self.root, "qupdater.xml")
        with open(out, "wb") as f:
            f.write(b"last good manifest")
        result = run("build", "--version=1.0.3", "-o", out, "--", self.game)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), first.stdout)
        self.assertEqual(self.leftovers(), ["game", "qupdater.xml"])

        utf8 = run("build", self.game, "--version", "1", "--code-page", "65001")
        self.assertIn('encoding="UTF-8"'.encode(), utf8.stdout)
        self.assertIn("数据\\地图.dat".encode("utf-8"), utf8.stdout)

    def test_refused_names_are_all_reported_and_nothing_is_written(self):
        out = os.path.join(self.root, "qupdater.xml")
        with open(out, "wb") as f:
            f.write(b"last good manifest")
        for path in ["data/aux.dat", "qalUpdate.part", "ॐ.dat", "why?.dat", "x|y.dat", "trailing. ",
                     "Case.dat", "CASE.DAT"]:
            self.put(path, b"x")
        os.symlink("/etc/hostname", os.path.join(self.game, "outside.lnk"))
        result = run("build", self.game, "--version", "1", "-o", out)
        self.assertEqual(result.returncode, 1)
        errors = result.stderr.decode()
        for path in ["data\\aux.dat", "qalUpdate.part", "ॐ.dat", "why?.dat", "x|y.dat", "trailing. ",
                     "Case.dat", "CASE.DAT", "outside.lnk"]:
            self.assertIn("refused: %s (" % path, errors)
        self.assertIn("9 names refused; no manifest written", errors)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"last good manifest")
        self.assertEqual(self.leftovers(), ["game", "qupdater.xml"])
        # To standard output nothing at all.
        self.assertEqual(run("build", self.game, "--version", "1").stdout, b"")

        # A long installation directory leaves less room for names.
        shutil.rmtree(self.game)
        self.put("x" * 100 + ".dat", b"x")
        self.assertEqual(run("build", self.game, "--version", "1").returncode, 0)
        long_install = run("build", self.game, "--version", "1", "--install-dir", "D:\\" + "i" * 150)
        self.assertEqual(long_install.returncode, 1)
        self.assertIn(b"its path in the installation would exceed 259 characters", long_install.stderr)

    def test_failures_name_the_file_and_exit_1(self):
        missing = run("build", os.path.join(self.root, "nothing"), "--version", "1")
        self.assertEqual(missing.returncode, 1)
        self.assertIn(b"nothing: No such file or directory", missing.stderr)
        unwritable = run("build", self.game, "--version", "1", "-o", os.path.join(self.root, "no", "m.xml"))
        self.assertEqual(unwritable.returncode, 1)
        self.assertIn(os.path.join(self.root, "no", "m.xml").encode(), unwritable.stderr)
        self.assertEqual(self.leftovers(), ["game"])
        into_directory = run("build", self.game, "--version", "1", "-o", self.game)
        self.assertEqual(into_directory.returncode, 1)
        self.assertEqual(self.leftovers(), ["game"])
        if os.geteuid() != 0:  # root reads anything
            os.chmod(os.path.join(self.game, "top.bin"), 0)
            unreadable = run("build", self.game, "--version", "1")
            self.assertEqual(unreadable.returncode, 1)
            self.assertIn(b"cannot read top.bin", unreadable.stderr)
            self.assertEqual(unreadable.stdout, b"")

    def test_verify_reports_each_difference_sorted(self):
        manifest = os.path.join(self.root, "qupdater.xml")
        self.assertEqual(run("build", self.game, "--version", "1", "-o", manifest).returncode, 0)
        ok = run("verify", manifest, self.game)
        self.assertEqual((ok.returncode, ok.stdout, ok.stderr), (0, b"", b""))

        self.put("top.bin", b"changed")
        self.put("new.dat", b"new")
        os.remove(os.path.join(self.game, "a", "z.dat"))
        with open(manifest, "rb") as f:
            listing = f.read()
        with open(manifest, "wb") as f:
            f.write(listing.replace(b"</update>", b'  <file path="..\\up.dat" ver="00"/>\n</update>'))
        result = run("verify", manifest, self.game)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.decode().splitlines(), [
            "different: top.bin", "missing: a\\z.dat",
            "refused: ..\\up.dat (the updater refuses it: it leaves the game directory or names a device)",
            "unlisted: new.dat"])

        for body in (b"", b"<update", b"<?xml version='1.0'?>"):
            with open(manifest, "wb") as f:
                f.write(body)
            broken = run("verify", manifest, self.game)
            self.assertEqual(broken.returncode, 1)
            self.assertIn(manifest.encode() + b": ", broken.stderr)
        gone = run("verify", os.path.join(self.root, "none.xml"), self.game)
        self.assertEqual(gone.returncode, 1)
        self.assertIn(b"none.xml: cannot be opened", gone.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
