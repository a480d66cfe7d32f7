"""qalManifest.exe under Wine publishes a tree, and the real qalUpdate.exe on
an installation holding exactly that tree finds every file current: it asks
for the manifest only and starts the micro-client."""
import base64
import hashlib
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.environ["QAL_SOURCE_DIR"], "tests", "support"))
import qaltest  # noqa: E402

PORT = int(os.environ["QAL_TEST_HTTP_PORT"])
UPDATER = os.environ["QAL_UPDATER_EXE"]
SIGNED_UPDATER = os.environ["QAL_UPDATER_SIGNED_EXE"]
KEY_DIR = os.environ["QAL_TEST_KEY_DIR"]
STUB = os.environ["QAL_STUB_CLIENT_EXE"]
TOOL = os.environ["QAL_MANIFEST_EXE"]
MANIFEST = "/qal_lianyun/micro/qupdater.xml"
ARGS = 'http://127.0.0.1:9/login/entergame.htm?uid=42 "C:\\Program Files (x86)\\Orvane\\qalLogin.exe"'
# Code page 936, so the updater reads the Chinese name as it was written.
CHINESE = {"LANG": "zh_CN.UTF-8", "LC_ALL": "zh_CN.UTF-8"}


class Install:
    """An installation (with a blank in its path) of the updater whose game
    directory holds the stub micro-client and the given files."""

    def __init__(self, files, updater=UPDATER):
        self.root = qaltest.make_temp_dir("manifest-")
        self.dir = os.path.join(self.root, "Orvane Game")
        self.cwd = os.path.join(self.root, "start here")
        os.makedirs(self.cwd)
        os.makedirs(self.game())
        shutil.copy(updater, os.path.join(self.dir, "qalUpdate.exe"))
        shutil.copy(STUB, self.game("PelMicroLauncher.exe"))
        for path, data in files.items():
            self.put(path, data)

    def game(self, path=""):
        return os.path.join(self.dir, "game", *path.split("/"))

    def put(self, path, data):
        os.makedirs(os.path.dirname(self.game(path)), exist_ok=True)
        with open(self.game(path), "wb") as f:
            f.write(data)

    def run_updater(self):
        line = qaltest.quote_arg(qaltest.win_path(os.path.join(self.dir, "qalUpdate.exe"))) + " " + ARGS
        return qaltest.run_exact(line, cwd=self.cwd, timeout_ms=60000, env=CHINESE)


def tool(*args):
    return qaltest.run_windows(TOOL, *args, timeout=120, env=CHINESE)


class ManifestRoundTrip(qaltest.unittest.TestCase):
    def test_updater_finds_the_published_tree_current_and_verify_sees_a_change(self):
        install = Install({"top.bin": os.urandom(5000), "sub dir/x y.dat": b"blanks",
                           "data/deep/z.dat": os.urandom(300000), "数据/地图.dat": b"map"})
        manifest = os.path.join(install.root, "qupdater.xml")
        built = tool("build", qaltest.win_path(install.game()), "--version", "1.2.3",
                     "-o", qaltest.win_path(manifest))
        self.assertEqual(built.returncode, 0, built.stdout)
        with open(manifest, "rb") as f:
            body = f.read()
        self.assertTrue(body.startswith(b'<?xml version="1.0" encoding="GBK"?>\n<update version="1.2.3">\n'), body)
        self.assertIn('path="数据\\地图.dat"'.encode("gbk"), body)
        self.assertEqual(body.count(b"<file "), 5)

        checked = tool("verify", qaltest.win_path(manifest), qaltest.win_path(install.game()))
        self.assertEqual((checked.returncode, checked.stdout), (0, b""))

        with qaltest.ResourceServer(port=PORT, files={MANIFEST: body}) as server:
            report = install.run_updater()
        self.assertEqual(report["exit_code"], 0, report)
        self.assertEqual(report["boxes"], [])
        self.assertEqual(server.paths_requested(), [MANIFEST])
        self.assertTrue(os.path.exists(install.game("launch-record.txt")), "micro-client not started")

        for record in ("launch-record.txt", "launch-log.txt"):
            os.remove(install.game(record))
        install.put("data/deep/z.dat", b"changed")
        changed = tool("verify", qaltest.win_path(manifest), qaltest.win_path(install.game()))
        self.assertEqual(changed.returncode, 1)
        self.assertEqual(changed.stdout.decode().split(), ["different:", "data\\deep\\z.dat"])

    def test_keys_made_and_manifests_signed_with_the_system_crypto(self):
        install = Install({"data/z.dat": os.urandom(70000), "数据/地图.dat": b"map"}, SIGNED_UPDATER)
        keys = os.path.join(install.root, "keys")
        os.makedirs(keys)
        private, public = os.path.join(keys, "new.pem"), os.path.join(keys, "new.pub.pem")
        made = tool("keygen", qaltest.win_path(private), qaltest.win_path(public))
        self.assertEqual(made.returncode, 0, made.stdout)
        again = tool("keygen", qaltest.win_path(private), qaltest.win_path(os.path.join(keys, "x.pem")))
        self.assertEqual(again.returncode, 1)
        self.assertEqual(sorted(os.listdir(keys)), ["new.pem", "new.pub.pem"])
        derived = subprocess.run(["openssl", "pkey", "-in", private, "-pubout"], capture_output=True, timeout=60)
        with open(public, "rb") as f:
            self.assertEqual(derived.stdout, f.read())

        # Signed with a new key: openssl agrees, verify too.
        manifest = os.path.join(install.root, "qupdater.xml")
        game = qaltest.win_path(install.game())
        built = tool("build", game, "--version", "2", "--sign", qaltest.win_path(private), "-o", qaltest.win_path(manifest))
        self.assertEqual(built.returncode, 0, built.stdout)
        with open(manifest, "rb") as f:
            body = f.read()
        at = body.rindex(b"<!--signature:")
        with open(manifest + ".sig", "wb") as f:
            f.write(base64.b64decode(body[at + 14:body.rindex(b"-->")]))
        with open(manifest + ".body", "wb") as f:
            f.write(body[:at])
        checked = subprocess.run(["openssl", "dgst", "-sha256", "-verify", public, "-signature", manifest + ".sig",
                                  manifest + ".body"], capture_output=True, timeout=60)
        self.assertEqual(checked.stdout, b"Verified OK\n")
        verified = tool("verify", qaltest.win_path(manifest), game, "--public-key", qaltest.win_path(public))
        self.assertEqual((verified.returncode, verified.stdout), (0, b"signature: good\n"))

        # Signed with a key the updater trusts, the tree is current for it.
        built = tool("build", game, "--version", "2", "--sign", qaltest.win_path(os.path.join(KEY_DIR, "second.pem")),
                     "-o", qaltest.win_path(manifest))
        self.assertEqual(built.returncode, 0, built.stdout)
        with open(manifest, "rb") as f:
            body = f.read()
        with qaltest.ResourceServer(port=PORT, files={MANIFEST: body}) as server:
            report = install.run_updater()
        self.assertEqual((report["exit_code"], report["boxes"]), (0, []), report)
        self.assertEqual(server.paths_requested(), [MANIFEST])
        self.assertTrue(os.path.exists(install.game("launch-record.txt")), "micro-client not started")

    def test_names_windows_cannot_take_are_refused(self):
        # Wine shows a Unix link to a directory as a reparse point.
        # Windows' best fit would write "ä" as "a", another file.
        install = Install({"ॐ.dat": b"not in GBK", "ä.dat": b"best fit", "fine.dat": b"fine",
                           "Карта.dat": b"upper", "карта.dat": b"lower"})
        os.symlink(install.root, install.game("outside"))
        manifest = os.path.join(install.root, "qupdater.xml")
        result = tool("build", qaltest.win_path(install.game()), "--version", "1", "-o", qaltest.win_path(manifest))
        self.assertEqual(result.returncode, 1)
        output = result.stdout.decode("utf-8")
        self.assertIn("refused: ॐ.dat (code page 936 cannot carry its name exactly)", output)
        self.assertIn("refused: ä.dat (code page 936 cannot carry its name exactly)", output)
        self.assertIn("refused: outside (a link or other reparse point, which is never followed)", output)
        self.assertIn("refused: Карта.dat (differs only in letter case from карта.dat", output)
        self.assertEqual(sorted(os.listdir(install.root)), ["Orvane Game", "start here"])

    def test_objects_and_programs_placed_checked_and_pruned_by_the_windows_tool(self):
        install = Install({"data/z.dat": os.urandom(70000), "twin1.dat": b"twin", "sub/twin2.dat": b"twin"})
        objects, door, out = (os.path.join(install.root, n) for n in ("objects", "door", "frontdoor"))
        program = b"MZ" + bytes(58) + (64).to_bytes(4, "little") + b"PE\0\0" + (0x8664).to_bytes(2, "little")
        os.makedirs(os.path.join(door, "x86_64"))
        with open(os.path.join(door, "x86_64", "qalUpdate.exe"), "wb") as f:
            f.write(program)
        manifest = os.path.join(install.root, "qupdater.xml")
        win = qaltest.win_path

        def build():
            return tool("build", win(install.game()), "--version", "3", "-o", win(manifest), "--object-dir",
                        win(objects), "--front-door", win(door), "--front-door-dir", win(out))

        built = build()
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        expected = {}
        for top, _, names in os.walk(install.game()):
            for name in names:
                with open(os.path.join(top, name), "rb") as f:
                    data = f.read()
                expected[hashlib.md5(data).hexdigest().upper()] = data
        stored = {}
        for name in os.listdir(objects):
            with open(os.path.join(objects, name), "rb") as f:
                stored[name] = f.read()
        self.assertEqual(stored, expected)
        address = os.path.join(out, "x86_64", hashlib.md5(program).hexdigest().upper(), "qalUpdate.exe")
        with open(address, "rb") as f:
            self.assertEqual(f.read(), program)

        # What is there is kept as it is; other bytes under a name stop the build.
        kept = os.path.join(objects, hashlib.md5(b"twin").hexdigest().upper())
        os.utime(kept, (1000000000, 1000000000))
        self.assertEqual(build().returncode, 0)
        self.assertEqual(os.stat(kept).st_mtime, 1000000000)
        with open(kept, "wb") as f:
            f.write(b"TWIN")
        damaged = build()
        self.assertEqual(damaged.returncode, 1)
        self.assertIn(b"not the content of", damaged.stdout + damaged.stderr)
        checked = tool("verify", win(manifest), win(install.game()), "--object-dir", win(objects),
                       "--front-door-dir", win(out))
        self.assertEqual((checked.returncode, checked.stdout.split()), (1, [b"different:", b"objects/" +
                                                                            os.path.basename(kept).encode()]))

        stray, temporary = "0123456789ABCDEF0123456789ABCDEF", os.path.basename(kept) + ".tmp77"
        for name in (stray, temporary):
            with open(os.path.join(objects, name), "wb") as f:
                f.write(b"x")
        pruned = tool("prune", "--object-dir", win(objects), win(manifest))
        self.assertEqual((pruned.returncode, pruned.stdout.split()), (0, [b"removed:", b"objects/" + stray.encode()]))
        self.assertEqual(sorted(os.listdir(objects)), sorted(list(expected) + [temporary]))


if __name__ == "__main__":
    qaltest.main()
