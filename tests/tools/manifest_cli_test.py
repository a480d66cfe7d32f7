"""qalManifest natively through its command line: exit codes, where the
manifest goes, what a failed run leaves behind, and verify's findings."""
import base64
import hashlib
import os
import re
import shutil
import stat
import subprocess
import tempfile
import time
import unittest

TOOL = os.environ["QAL_MANIFEST_EXE"]


def run(*args, cwd=None, wrapper=()):
    return subprocess.run([*wrapper, TOOL, *args], cwd=cwd, capture_output=True, timeout=60)


# Root reads a file of mode 0 anyway (its permission override); dropped from
# the bounding set, the override is gone in the program run under it, as for
# any operator. The tests run as root here and in CI.
NO_OVERRIDE = ("setpriv", "--bounding-set=-dac_override,-dac_read_search") if os.geteuid() == 0 else ()


def md5_upper(data):
    return hashlib.md5(data).hexdigest().upper()


class ScratchTest(unittest.TestCase):
    """A test with a scratch directory of its own, removed afterwards, and
    the game directory in it."""
    prefix = "qal-cli-"

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix=self.prefix)
        self.game = os.path.join(self.root, "game")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def put(self, path, data):
        """Writes data at path, below the game directory unless absolute."""
        full = os.path.join(self.game, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)


class ManifestCli(ScratchTest):
    def setUp(self):
        super().setUp()
        self.content = {"PelMicroLauncher.exe": b"MZ client", "top.bin": os.urandom(3000),
                        "sub dir/x y.dat": b"blank", "a0.dat": b"",
                        "a/z.dat": b"z" * 70000, "数据/地图.dat": b"map", "q&'.dat": b"q"}
        for path, data in self.content.items():
            self.put(path, data)
        os.makedirs(os.path.join(self.game, "empty", "deeper"))

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
                     ("verify", out, self.game, "--version", "1"),
                     ("build", self.game, "--version", "1", "--patch-from", self.game),
                     ("build", self.game, "--version", "1", "--patch-dir", self.root),
                     ("verify", out, self.game, "--patch-from", self.game),
                     ("build", self.game, "--version", "1", "--front-door", self.game),
                     ("build", self.game, "--version", "1", "--front-door-dir", self.root),
                     ("verify", out, self.game, "--front-door", self.game),
                     ("prune", "--object-dir", self.root), ("prune", out),
                     ("prune", "--object-dir", self.root, "--dry-run=yes", out)]:
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
                for option in (b"build", b"verify", b"prune", b"--version", b"-o", b"--code-page", b"--install-dir",
                               b"--base-url", b"--object-dir", b"--front-door", b"--front-door-dir", b"--dry-run",
                               b"--help", b"http://updates.example.com/qal_lianyun/micro/"):
                    self.assertIn(option, result.stdout)

    def test_build_writes_the_sorted_manifest_identically_every_time(self):
        first = run("build", self.game, "--version", "1.0.3")
        self.assertEqual(first.returncode, 0, first.stderr)
        self.assertEqual(first.stderr, b"")  # not a terminal: results only
        expected = ['<?xml version="1.0" encoding="GBK"?>', '<update version="1.0.3">']
        for path in ["PelMicroLauncher.exe", "a0.dat", "a\\z.dat", "q&amp;&apos;.dat", "sub dir\\x y.dat", "top.bin",
                     "数据\\地图.dat"]:
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
                     "Case.dat", "CASE.DAT", "Карта.dat", "карта.dat", "Ａ.dat", "ａ.dat", "NAME~1.EXT",
                     "dir/qalUpdate.7.part"]:
            self.put(path, b"x")
        os.symlink("/etc/hostname", os.path.join(self.game, "outside.lnk"))
        result = run("build", self.game, "--version", "1", "-o", out)
        self.assertEqual(result.returncode, 1)
        errors = result.stderr.decode()
        for path in ["data\\aux.dat", "qalUpdate.part", "ॐ.dat", "why?.dat", "x|y.dat", "trailing. ",
                     "Case.dat", "CASE.DAT", "outside.lnk", "Карта.dat", "карта.dat", "Ａ.dat", "ａ.dat",
                     "NAME~1.EXT", "dir\\qalUpdate.7.part"]:
            self.assertIn("refused: %s (" % path, errors)
        self.assertIn("15 names refused; no manifest written", errors)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"last good manifest")
        self.assertEqual(self.leftovers(), ["game", "qupdater.xml"])
        # To standard output nothing at all.
        self.assertEqual(run("build", self.game, "--version", "1").stdout, b"")

        # A long installation directory leaves less room for names.
        shutil.rmtree(self.game)
        self.put("x" * 100 + ".dat", b"x")
        self.put("PelMicroLauncher.exe", b"MZ")
        self.assertEqual(run("build", self.game, "--version", "1").returncode, 0)
        long_install = run("build", self.game, "--version", "1", "--install-dir", "D:\\" + "i" * 150)
        self.assertEqual(long_install.returncode, 1)
        self.assertIn(b"its path in the installation would exceed 259 characters", long_install.stderr)

    def test_build_refuses_a_tree_without_the_micro_client_at_its_top(self):
        # The site root given for the game directory.
        site = os.path.dirname(self.game)
        out = os.path.join(self.root, "qupdater.xml")
        result = run("build", site, "--version", "1", "-o", out)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"no PelMicroLauncher.exe at its top", result.stderr)
        self.assertFalse(os.path.exists(out))
        os.rename(os.path.join(self.game, "PelMicroLauncher.exe"), os.path.join(self.game, "pelmicrolauncher.EXE"))
        self.assertEqual(run("build", self.game, "--version", "1").returncode, 0)  # Windows finds it in any case

    def test_verify_refuses_what_the_updater_would_fail_on(self):
        manifest = os.path.join(self.root, "qupdater.xml")
        self.assertEqual(run("build", self.game, "--version", "1", "-o", manifest).returncode, 0)
        with open(manifest, "rb") as f:
            body = f.read()
        long_name = "d" * 230
        self.put(long_name, b"")
        with open(manifest, "wb") as f:
            f.write(body.replace(b'path="a\\z.dat"', b'path="a/z.dat"').replace(
                b"</update>", b'<file path="%s" ver="%s"/>\n<file path="A0.DAT" ver="%s"/>\n</update>'
                % (long_name.encode(), md5_upper(b"").encode(), md5_upper(b"").encode())))
        result = run("verify", manifest, self.game)
        self.assertEqual(result.returncode, 1)
        lines = result.stdout.decode().splitlines()
        self.assertIn('refused: a/z.dat (separates directories with "/", for which the updater makes no directory: '
                      'a fresh installation cannot take it; use "\\")', lines)
        self.assertIn("refused: %s (too long for the updater: its path in the installation would exceed 259 "
                      "characters)" % long_name, lines)
        self.assertIn("refused: A0.DAT (differs only in letter case from a0.dat, the same file on Windows)", lines)
        self.assertIn("unlisted: a\\z.dat", lines)
        self.assertIn("unlisted: %s" % long_name, lines)
        # The limits follow the players' installation directory: there the
        # long name is listed and current, and the rest stays as it was.
        short = run("verify", manifest, self.game, "--install-dir", "C:\\G")
        self.assertEqual(short.returncode, 1, short.stderr)
        self.assertEqual(short.stdout.decode().splitlines(), [line for line in lines if long_name not in line])

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
        top = os.path.join(self.game, "top.bin")
        os.chmod(top, 0)
        with self.subTest("unreadable file"):
            if subprocess.run([*NO_OVERRIDE, "head", "-c", "1", top], capture_output=True, timeout=60).returncode == 0:
                self.skipTest("this user reads a file of mode 0 even without root's override")
            unreadable = run("build", self.game, "--version", "1", wrapper=NO_OVERRIDE)
            self.assertEqual(unreadable.returncode, 1)
            self.assertIn(b"cannot read top.bin: Permission denied", unreadable.stderr)
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


    def keygen(self, name):
        private, public = (os.path.join(self.root, name + s) for s in (".pem", ".pub.pem"))
        result = run("keygen", private, public)
        self.assertEqual(result.returncode, 0, result.stderr)
        return private, public

    def openssl(self, *args, data=None):
        return subprocess.run(["openssl", *args], input=data, capture_output=True, timeout=60)

    def signed_by_openssl(self, body, private):
        signature = self.openssl("dgst", "-sha256", "-sign", private, data=body)
        self.assertEqual(signature.returncode, 0, signature.stderr)
        return body + b"<!--signature:" + base64.b64encode(signature.stdout) + b"-->\r\n"

    def test_keygen_writes_a_pair_openssl_reads_and_never_overwrites(self):
        private, public = self.keygen("operator")
        self.assertEqual(stat.S_IMODE(os.stat(private).st_mode), 0o600)
        with open(private, "rb") as f:
            private_text = f.read()
        # PKCS#8, exactly as openssl itself writes it.
        self.assertEqual(self.openssl("pkcs8", "-topk8", "-nocrypt", "-in", private).stdout, private_text)
        derived = self.openssl("pkey", "-in", private, "-pubout")
        with open(public, "rb") as f:
            self.assertEqual(derived.stdout, f.read())
        for args in (("keygen", private, os.path.join(self.root, "new.pub.pem")),
                     ("keygen", os.path.join(self.root, "new.pem"), public),
                     ("keygen", os.path.join(self.root, "no", "k.pem"), os.path.join(self.root, "p.pem"))):
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(result.stdout, b"")
        with open(private, "rb") as f:
            self.assertEqual(f.read(), private_text)
        self.assertEqual(self.leftovers(), ["game", "operator.pem", "operator.pub.pem"])
        self.assertNotIn(private_text.splitlines()[1], run("keygen", private, public).stderr)

    def test_build_signs_what_openssl_verifies_and_verify_checks_every_rule(self):
        private, public = self.keygen("operator")
        other_private, other_public = self.keygen("other")
        manifest = os.path.join(self.root, "qupdater.xml")
        before = int(time.time())
        self.assertEqual(run("build", self.game, "--version", "1", "--sign", private, "-o", manifest).returncode, 0)
        with open(manifest, "rb") as f:
            signed = f.read()
        sequence = int(re.search(rb'<update version="1" sequence="(\d+)">', signed).group(1))
        self.assertTrue(before <= sequence <= time.time() + 1, sequence)
        for path, data in self.content.items():
            listed = path.replace("/", "\\").replace("&", "&amp;").replace("'", "&apos;").encode("gbk")
            line = b'<file path="%s" ver="%s" sha256="%s"/>' % (listed, md5_upper(data).encode(),
                                                                  hashlib.sha256(data).hexdigest().encode())
            self.assertIn(line, signed)
        body, block = signed[:signed.rindex(b"<!--")], signed[signed.rindex(b"<!--"):]
        self.assertRegex(block, rb"^<!--signature:[A-Za-z0-9+/]+={0,2}-->\n$")
        with open(manifest + ".body", "wb") as f:
            f.write(body)
        with open(manifest + ".sig", "wb") as f:
            f.write(base64.b64decode(block[14:-4]))
        checked = self.openssl("dgst", "-sha256", "-verify", public, "-signature", manifest + ".sig", manifest + ".body")
        self.assertEqual(checked.stdout, b"Verified OK\n")
        os.remove(manifest + ".body")
        os.remove(manifest + ".sig")

        def verify(*keys):
            return run("verify", manifest, self.game, *[a for k in keys for a in ("--public-key", k)])

        good = verify(other_public, public)
        self.assertEqual((good.returncode, good.stdout), (0, b"signature: good\n"), good.stderr)
        self.assertEqual(verify(other_public).stdout, b"signature: bad\n")
        self.assertEqual(run("verify", manifest, self.game).returncode, 0)  # without keys, as before

        # Signed by the openssl command alone, with a CRLF after the block.
        top = self.content["top.bin"]
        by_openssl = self.signed_by_openssl(
            b"<?xml version='1.0'?>\n<update version='2' sequence='12'>\n"
            b"<file path='top.bin' ver='%s' sha256='%s'/>\n</update>\n"
            % (md5_upper(top).encode(), hashlib.sha256(top).hexdigest().encode()), private)
        shutil.rmtree(self.game)
        self.put("top.bin", top)
        with open(manifest, "wb") as f:
            f.write(by_openssl)
        self.assertEqual(verify(public).stdout, b"signature: good\n")
        cases = {
            "changed after signing": (by_openssl.replace(b"version='2'", b"version='3'"), ["signature: bad"]),
            "unsigned": (by_openssl[:by_openssl.rindex(b"<!--")], ["signature: missing"]),
            "no sequence, no sha256": (self.signed_by_openssl(
                b"<update><file path='top.bin' ver='%s'/></update>" % md5_upper(top).encode(), private),
                ["signature: good", "refused: top.bin (its sha256 is missing or not 64 lowercase hexadecimal "
                 "digits, so a signing updater refuses the manifest)", "sequence: missing"]),
            "sha256 of other bytes": (self.signed_by_openssl(
                b"<update sequence='0x1'><file path='top.bin' ver='%s' sha256='%s'/></update>"
                % (md5_upper(top).encode(), hashlib.sha256(b"other").hexdigest().encode()), private),
                ["signature: good", "different: top.bin (its SHA-256)",
                 'sequence: "0x1" is not a whole number from 1 to 9223372036854775807']),
        }
        for name, (body, expected) in cases.items():
            with self.subTest(case=name):
                with open(manifest, "wb") as f:
                    f.write(body)
                result = verify(public)
                self.assertEqual((result.returncode, result.stdout.decode().splitlines()), (1, expected))

    def test_signing_options_are_checked(self):
        private, public = self.keygen("operator")
        manifest = os.path.join(self.root, "m.xml")
        for args in (("build", self.game, "--version", "1", "--sequence", "5"),
                     ("build", self.game, "--version", "1", "--sign", private, "--sequence", "0"),
                     ("build", self.game, "--version", "1", "--sign", private, "--sequence", "9223372036854775808"),
                     ("build", self.game, "--version", "1", "--public-key", public),
                     ("verify", manifest, self.game, "--sign", private),
                     ("keygen", private), ("keygen", private, private), ("keygen", "a", "b", "--code-page", "936")):
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(b"Usage:", result.stderr)
        # A public key is no signing key, and a SEC1 key from openssl is one.
        wrong = run("build", self.game, "--version", "1", "--sign", public, "-o", manifest)
        self.assertEqual(wrong.returncode, 1)
        self.assertIn(public.encode() + b": no PEM", wrong.stderr)
        self.assertFalse(os.path.exists(manifest))
        sec1 = os.path.join(self.root, "sec1.pem")
        self.assertEqual(self.openssl("ecparam", "-genkey", "-name", "prime256v1", "-out", sec1).returncode, 0)
        made = run("build", self.game, "--version", "1", "--sign", sec1, "--sequence", "9223372036854775807",
                   "-o", manifest)
        self.assertEqual(made.returncode, 0, made.stderr)
        sec1_public = os.path.join(self.root, "sec1.pub.pem")
        self.openssl("pkey", "-in", sec1, "-pubout", "-out", sec1_public)
        self.assertEqual(run("verify", manifest, self.game, "--public-key", sec1_public).stdout, b"signature: good\n")


class ManifestPatches(ScratchTest):
    """build --patch-from and verify --patch-dir: patches the zstd command
    applies, content-named, only where they pay."""
    prefix = "qal-patch-"

    def setUp(self):
        super().setUp()
        big = os.urandom(1 << 20)
        self.older = {"PelMicroLauncher.exe": b"MZ old", "data/big.pak": big, "same.dat": b"same",
                      "noise.bin": os.urandom(5000)}
        self.newer = {"PelMicroLauncher.exe": b"MZ new", "data/big.pak": big[:500000] + os.urandom(20000) + big[500000:],
                      "same.dat": b"same", "noise.bin": os.urandom(5000), "added.dat": b"added"}
        self.old_dir, self.new_dir = self.tree("old", self.older), self.tree("new", self.newer)
        # Made by build when it is not there yet.
        self.patches = os.path.join(self.root, "patch")

    def tree(self, name, files):
        top = os.path.join(self.root, name)
        for path, data in files.items():
            full = os.path.join(top, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
        return top

    def build(self, *extra):
        out = os.path.join(self.root, "qupdater.xml")
        result = run("build", self.new_dir, "--version", "2", "-o", out, *extra)
        with open(out, "rb") if os.path.exists(out) else open(os.devnull, "rb") as f:
            return result, f.read()

    def test_patches_apply_with_the_zstd_command_and_verify_checks_them(self):
        result, manifest = self.build("--patch-from", self.old_dir, "--patch-dir", self.patches)
        self.assertEqual(result.returncode, 0, result.stderr)
        offers = re.findall(rb'<file path="([^"]+)" ver="([0-9A-F]{32})">\s*'
                            rb'<patch from="([0-9A-F]{32})" sha256="([0-9a-f]{64})" size="(\d+)"/>\s*</file>', manifest)
        # Only the file a patch pays for: not the unchanged, the new, the
        # incompressible or the tiny one.
        self.assertEqual([o[0] for o in offers], [b"data\\big.pak"], manifest)
        path, ver, origin, sha256, size = offers[0]
        self.assertEqual((ver, origin), (md5_upper(self.newer["data/big.pak"]).encode(),
                                         md5_upper(self.older["data/big.pak"]).encode()))
        name = "%s-%s.zst" % (origin.decode(), ver.decode())
        self.assertEqual(os.listdir(self.patches), [name])
        with open(os.path.join(self.patches, name), "rb") as f:
            patch = f.read()
        self.assertEqual((len(patch), hashlib.sha256(patch).hexdigest().encode()), (int(size), sha256))
        self.assertLess(len(patch), 60000)
        applied = os.path.join(self.root, "applied")
        subprocess.run(["zstd", "-q", "-d", "--patch-from=" + os.path.join(self.old_dir, "data", "big.pak"),
                        os.path.join(self.patches, name), "-o", applied], check=True, timeout=60)
        with open(applied, "rb") as f:
            self.assertTrue(f.read() == self.newer["data/big.pak"])
        # Without --patch-from, byte for byte what build always wrote.
        plain = run("build", self.new_dir, "--version", "2")
        self.assertEqual(re.sub(rb">\s*<patch [^>]*/>\s*</file>", b"/>", manifest), plain.stdout)

        qupdater = os.path.join(self.root, "qupdater.xml")
        verified = run("verify", qupdater, self.new_dir, "--patch-dir", self.patches)
        self.assertEqual((verified.returncode, verified.stdout), (0, b""), verified.stderr)
        with open(os.path.join(self.patches, name), "ab") as f:
            f.write(b"x")
        verified = run("verify", qupdater, self.new_dir, "--patch-dir", self.patches)
        self.assertEqual((verified.returncode, verified.stdout), (1, b"different: patch/" + name.encode() + b"\n"))
        os.remove(os.path.join(self.patches, name))
        verified = run("verify", qupdater, self.new_dir, "--patch-dir", self.patches)
        self.assertEqual((verified.returncode, verified.stdout), (1, b"missing: patch/" + name.encode() + b"\n"))

    def test_an_older_directory_that_is_not_there_is_refused_by_name(self):
        missing = os.path.join(self.root, "no-such-version")
        result, manifest = self.build("--patch-from", self.old_dir, "--patch-from", missing,
                                      "--patch-dir", self.patches)
        self.assertEqual(result.returncode, 1)
        self.assertIn(missing.encode(), result.stderr)
        self.assertEqual((manifest, os.path.exists(self.patches)), (b"", False))


class ManifestObjects(ScratchTest):
    """build --object-dir writes each file once under its MD5, verify and
    prune look at the same directory."""
    prefix = "qal-objects-"

    def setUp(self):
        super().setUp()
        self.objects = os.path.join(self.root, "objects")
        self.manifest = os.path.join(self.root, "qupdater.xml")
        self.content = {"PelMicroLauncher.exe": b"MZ client", "big.pak": os.urandom(1 << 20), "same1.dat": b"twin",
                        "sub/same2.dat": b"twin", "empty.dat": b""}
        for path, data in self.content.items():
            self.put(path, data)

    def build(self, *extra, out=None):
        return run("build", self.game, "--version", "1", "-o", out or self.manifest, "--object-dir", self.objects,
                   *extra)

    def stored(self):
        result = {}
        for name in os.listdir(self.objects):
            with open(os.path.join(self.objects, name), "rb") as f:
                result[name] = f.read()
        return result

    def test_each_file_is_written_once_under_its_md5_and_never_rewritten(self):
        result = self.build()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.stored(), {md5_upper(data): data for data in self.content.values()})
        with open(self.manifest, "rb") as f:
            body = f.read()
        self.assertIn(b'<update version="1" objects="objects/">\n', body)
        # Only the root's attribute tells the two apart.
        plain = run("build", self.game, "--version", "1")
        self.assertEqual(body.replace(b' objects="objects/"', b""), plain.stdout)

        # A correct object is left as it is, a missing one added.
        kept = os.path.join(self.objects, md5_upper(self.content["big.pak"]))
        os.utime(kept, (1000000000, 1000000000))
        os.remove(os.path.join(self.objects, md5_upper(b"twin")))
        self.assertEqual(self.build().returncode, 0)
        self.assertEqual(os.stat(kept).st_mtime, 1000000000)
        self.assertIn(md5_upper(b"twin"), self.stored())

        # One holding other bytes of the same size: an error naming it; it
        # stays, and neither a new object nor a manifest is written.
        with open(kept, "r+b") as f:
            f.write(b"X")
        with open(kept, "rb") as f:
            damaged = f.read()
        self.put("added.dat", b"new")  # listed before big.pak
        out = os.path.join(self.root, "next.xml")
        result = self.build(out=out)
        self.assertEqual(result.returncode, 1)
        self.assertIn(kept.encode() + b": not the content of big.pak", result.stderr)
        self.assertFalse(os.path.exists(out))
        with open(kept, "rb") as f:
            self.assertEqual(f.read(), damaged)
        self.assertNotIn(md5_upper(b"new"), self.stored())
        self.assertEqual(len(os.listdir(self.objects)), 4)  # no temporary file left either

    def test_verify_finds_each_missing_or_different_object(self):
        self.assertEqual(self.build().returncode, 0)
        ok = run("verify", self.manifest, self.game, "--object-dir", self.objects)
        self.assertEqual((ok.returncode, ok.stdout), (0, b""), ok.stderr)
        big, twin = md5_upper(self.content["big.pak"]), md5_upper(b"twin")
        os.remove(os.path.join(self.objects, twin))
        with open(os.path.join(self.objects, big), "r+b") as f:
            f.write(b"X")
        # An entry listing a SHA-256 is checked by it as well.
        with open(self.manifest, "rb") as f:
            body = f.read()
        client = md5_upper(self.content["PelMicroLauncher.exe"]).encode()
        with open(self.manifest, "wb") as f:
            f.write(body.replace(client + b'"', client + b'" sha256="%s"' % hashlib.sha256(b"other").hexdigest().encode()))
        found = run("verify", self.manifest, self.game, "--object-dir", self.objects)
        self.assertEqual((found.returncode, found.stdout.decode().splitlines()), (1, sorted([
            "different: objects/" + big, "different: objects/" + client.decode(), "missing: objects/" + twin])))
        plain = os.path.join(self.root, "plain.xml")
        self.assertEqual(run("build", self.game, "--version", "1", "-o", plain).returncode, 0)
        unannounced = run("verify", plain, self.game, "--object-dir", self.objects)
        self.assertIn(b"missing: objects attribute\n", unannounced.stdout)

    def test_prune_removes_only_objects_no_manifest_lists(self):
        private = os.path.join(self.root, "key.pem")
        self.assertEqual(run("keygen", private, private + ".pub").returncode, 0)
        old = os.path.join(self.root, "old.xml")
        self.assertEqual(self.build(out=old).returncode, 0)
        self.put("big.pak", b"next version")
        self.assertEqual(self.build("--sign", private).returncode, 0)
        stray, temporary = "0123456789ABCDEF0123456789ABCDEF", md5_upper(b"soon") + ".tmp4242"
        for name in (stray, temporary, "readme.txt", stray.lower()):
            with open(os.path.join(self.objects, name), "wb") as f:
                f.write(b"x")
        before = self.stored()

        broken, cut = os.path.join(self.root, "broken.xml"), os.path.join(self.root, "cut.xml")
        with open(broken, "wb") as f:
            f.write(b"<update><file path='a' ver='")
        # Whole, a comment; up to its signature, as a signing updater reads it, cut.
        with open(cut, "wb") as f:
            f.write(b"<update><file path='a' ver='%s'/></update><!--<!--signature:AAAA-->" % stray.encode())
        for manifests in ([self.manifest, broken], [self.manifest, os.path.join(self.root, "none.xml")],
                          [cut]):
            refused = run("prune", "--object-dir", self.objects, *manifests)
            self.assertEqual(refused.returncode, 1)
            self.assertIn(manifests[-1].encode() + b": ", refused.stderr)
            self.assertEqual(self.stored(), before)

        old_big = md5_upper(self.content["big.pak"])
        gone = sorted([old_big, stray])
        dry = run("prune", "--object-dir", self.objects, "--dry-run", self.manifest)
        self.assertEqual((dry.returncode, dry.stdout.decode().split()),
                         (0, [w for name in gone for w in ("unused:", "objects/" + name)]))
        self.assertEqual(self.stored(), before)
        both = run("prune", "--object-dir", self.objects, self.manifest, old)
        self.assertEqual((both.returncode, both.stdout.decode().split()), (0, ["removed:", "objects/" + stray]))
        pruned = run("prune", "--object-dir", self.objects, self.manifest)
        self.assertEqual(pruned.stdout.decode().split(), ["removed:", "objects/" + old_big])
        self.assertEqual(set(self.stored()), set(before) - set(gone))
        self.assertEqual(run("verify", self.manifest, self.game, "--object-dir", self.objects).returncode, 0)


def pe(machine, tail=b""):
    """A PE header as the linker writes it, enough for build's check."""
    return b"MZ" + bytes(58) + (64).to_bytes(4, "little") + b"PE\0\0" + machine.to_bytes(2, "little") + tail


class ManifestFrontDoor(ScratchTest):
    """build --front-door offers the launcher and the updater of each
    architecture and publishes them at their content address."""
    prefix = "qal-frontdoor-"

    def setUp(self):
        super().setUp()
        self.door = os.path.join(self.root, "door")
        self.out = os.path.join(self.root, "frontdoor")
        self.manifest = os.path.join(self.root, "qupdater.xml")
        self.programs = {("i686", "qalLogin.exe"): pe(0x14c, b"login 32"),
                         ("i686", "qalUpdate.exe"): pe(0x14c, b"update 32"),
                         ("x86_64", "qalUpdate.exe"): pe(0x8664, b"update 64")}
        self.put(os.path.join(self.game, "PelMicroLauncher.exe"), b"MZ client")
        for (arch, name), data in self.programs.items():
            self.put(os.path.join(self.door, arch, name), data)
        self.put(os.path.join(self.door, "VERSION"), b"1.0.5\r\n")

    def build(self, *extra):
        return run("build", self.game, "--version", "2", "-o", self.manifest, "--front-door", self.door,
                   "--front-door-dir", self.out, *extra)

    def test_offers_come_before_the_first_file_and_programs_land_at_their_address(self):
        result = self.build()
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.manifest, "rb") as f:
            lines = f.read().decode().splitlines()
        offers = ['  <frontdoor arch="%s" name="%s" ver="%s" sha256="%s" size="%d" version="1.0.5"/>'
                  % (arch, name, md5_upper(data), hashlib.sha256(data).hexdigest(), len(data))
                  for (arch, name), data in sorted(self.programs.items())]
        self.assertEqual(lines[2:5], offers)
        self.assertTrue(lines[5].startswith("  <file "), lines)
        published = {}
        for top, _, names in os.walk(self.out):
            for name in names:
                with open(os.path.join(top, name), "rb") as f:
                    published[os.path.relpath(os.path.join(top, name), self.out)] = f.read()
        self.assertEqual(published, {"%s/%s/%s" % (arch, md5_upper(data), name): data
                                     for (arch, name), data in self.programs.items()})

        ok = run("verify", self.manifest, self.game, "--front-door-dir", self.out)
        self.assertEqual((ok.returncode, ok.stdout), (0, b""), ok.stderr)
        login, update = (os.path.join(self.out, arch, md5_upper(self.programs[(arch, name)]), name)
                         for arch, name in (("i686", "qalLogin.exe"), ("x86_64", "qalUpdate.exe")))
        os.remove(login)
        with open(update, "r+b") as f:
            f.write(b"X")
        found = run("verify", self.manifest, self.game, "--front-door-dir", self.out)
        self.assertEqual((found.returncode, found.stdout.decode().splitlines()), (1, [
            "different: frontdoor/" + os.path.relpath(update, self.out),
            "missing: frontdoor/" + os.path.relpath(login, self.out)]))
        # A program's address holding other bytes is never rewritten.
        again = self.build()
        self.assertEqual(again.returncode, 1)
        self.assertIn(update.encode() + b": not the content of", again.stderr)

    def test_what_is_refused_is_named_and_no_manifest_is_written(self):
        def refused(why, *named):
            result = self.build()
            self.assertEqual(result.returncode, 1, why)
            for name in named:
                self.assertIn(name.encode(), result.stderr, why)
            self.assertFalse(os.path.exists(self.manifest), why)
            self.assertFalse(os.path.exists(self.out), why)

        swapped = os.path.join(self.door, "i686", "qalLogin.exe")
        self.put(swapped, pe(0x8664))
        refused("an x86_64 program among the i686 ones", swapped + ": a program for x86_64, not for i686")
        self.put(swapped, b"MZ but no more")
        refused("no PE header", swapped + ": not a Windows program")
        self.put(swapped, pe(0x14c))
        with open(swapped, "ab") as f:
            f.truncate(64 * 1024 * 1024 + 1)
        refused("too big", swapped + ": 67108865 bytes")
        self.put(swapped, pe(0x14c))
        version = os.path.join(self.door, "VERSION")
        self.put(version, b"1.0.5 beta\n")
        refused("a version that is none", version + ": not a version")
        os.remove(version)
        x64 = os.path.join(self.door, "x86_64")
        os.rename(os.path.join(x64, "qalUpdate.exe"), os.path.join(x64, "qalupdate.exe"))
        refused("an architecture without a program", x64 + ": holds neither")
        shutil.rmtree(x64)
        shutil.rmtree(os.path.join(self.door, "i686"))
        refused("no architecture", self.door + ": holds neither i686/ nor x86_64/")

        os.makedirs(os.path.join(self.door, "x86_64"))
        self.put(os.path.join(self.door, "x86_64", "qalLogin.exe"), pe(0x8664))
        result = self.build()
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.manifest, "rb") as f:
            self.assertIn(b'<frontdoor arch="x86_64" name="qalLogin.exe" ver="%s" sha256="%s" size="%d"/>'
                          % (md5_upper(pe(0x8664)).encode(), hashlib.sha256(pe(0x8664)).hexdigest().encode(),
                             len(pe(0x8664))), f.read())


if __name__ == "__main__":
    unittest.main(verbosity=2)
