"""What qalUpdate survives, as one table: every way the manifest or a file in
the middle of a run can fail, each followed by a good run that must heal the
installation. For every case: the box and exit code, nothing written outside
game\\ (and the updater's own download\\), the player's older copy intact, no
partial file left, and after the good run every listed file matching its
digest. The table lands in the build tree as fault-matrix.md.

An updater built with manifest keys is run against every way a manifest can
fail its signature, sequence or digests; the HTTPS rows (HttpsRows, run in a
Wine prefix of their own that trusts a throwaway authority) land in
fault-matrix-https.md."""
import base64
import hashlib
import os
import random
import re
import shutil
import stat
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.environ["QAL_SOURCE_DIR"], "tests", "support"))
import qaltest  # noqa: E402

PORT = int(os.environ["QAL_TEST_HTTP_PORT"])
UPDATER = os.environ["QAL_UPDATER_EXE"]
SHORT_STALL_UPDATER = os.environ["QAL_UPDATER_SHORT_STALL_EXE"]
STUB = os.environ["QAL_STUB_CLIENT_EXE"]
SIGNED_UPDATER = os.environ.get("QAL_UPDATER_SIGNED_EXE")
HTTPS_UPDATER = os.environ.get("QAL_UPDATER_HTTPS_EXE")
HTTPS_PORT = int(os.environ.get("QAL_TEST_HTTPS_PORT", "0"))
KEY_DIR = os.environ.get("QAL_TEST_KEY_DIR", "")
BASE = "/qal_lianyun/micro/"
MANIFEST = BASE + "qupdater.xml"
ARGS = 'http://127.0.0.1:9/login/entergame.htm?uid=1 "C:\\Orvane\\qalLogin.exe"'
FAILED = "更新失败! / 100"
PARTIAL = "qalupdate.part"

# The files of a good run; the player has an older copy of the middle one.
GOOD = {"a.dat": os.urandom(6000), "dir\\b.dat": os.urandom(12000), "c.dat": os.urandom(300)}
OLDER = b"the player's older copy of b.dat\n" * 20
MIDDLE = "dir\\b.dat"

TRANSFER_FAULTS = ["refused", "404", "500", "reset", "truncate", "chunked_cut", "other_bytes", "stall",
                   "redirect_missing"]
UNSAFE_PATHS = ["..\\outside.dat", "sub/../../outside.dat", "C:\\outside.dat", "\\outside.dat",
                "\\\\server\\share\\x.dat", "x.dat:stream", "a\\. .\\..\\..\\x", "aux.dat", "COM1",
                "data\\NUL.txt", "lpt9.log", "dir\\qalUpdate.part"]


def md5_upper(data):
    return hashlib.md5(data).hexdigest().upper()


def manifest_of(entries):
    lines = ["<?xml version='1.0'?>", "<update version='9.9'>"]
    for path, ver in entries:
        lines.append("  <file path='%s' ver='%s'/>" % (path.replace("&", "&amp;").replace("'", "&apos;"), ver))
    lines.append("</update>")
    return ("\n".join(lines) + "\n").encode("latin-1")


def zstd_patch(older, newer):
    """A patch as qalManifest publishes one: zstd with the older file as reference."""
    work = qaltest.make_temp_dir("patch-")
    paths = [os.path.join(work, n) for n in ("older", "newer", "patch")]
    for path, data in zip(paths, (older, newer)):
        with open(path, "wb") as f:
            f.write(data)
    subprocess.run(["zstd", "-q", "-f", "--patch-from=" + paths[0], paths[1], "-o", paths[2]], check=True)
    with open(paths[2], "rb") as f:
        return f.read()


# A frame that asks for a 3.75 GiB window: more than any updater may hold.
HUGE_WINDOW_FRAME = b"\x28\xb5\x2f\xfd\x00\xaf" + bytes([1 | (4 << 3), 0, 0]) + b"data"


def patch_address(older, newer):
    return BASE + "patch/%s-%s.zst" % (md5_upper(older), md5_upper(newer))


def patched_files(patch=None, offered_from=OLDER, sha256=True, size=None, signed=False):
    """The good files, with the middle file's entry offering a patch from
    offered_from, served at its address. sha256: True lists the patch's
    own, a text lists that, None lists none; size likewise."""
    patch = zstd_patch(OLDER, GOOD[MIDDLE]) if patch is None else patch
    digest = hashlib.sha256(patch).hexdigest() if sha256 is True else sha256
    lines = ["<?xml version='1.0'?>", "<update version='9.9'%s>" % (" sequence='%d'" % SEQUENCE if signed else "")]
    for path, data in GOOD.items():
        own = " sha256='%s'" % hashlib.sha256(data).hexdigest() if signed else ""
        lines.append("  <file path='%s' ver='%s'%s>" % (path, md5_upper(data), own))
        if path == MIDDLE:
            lines.append("    <patch from='%s'%s size='%d'/>" % (
                md5_upper(offered_from), "" if digest is None else " sha256='%s'" % digest,
                len(patch) if size is None else size))
        lines.append("  </file>")
    lines.append("</update>")
    body = ("\n".join(lines) + "\n").encode("latin-1")
    files = good_files()
    files[MANIFEST] = qaltest.sign_manifest(body, key("first")) if signed else body
    files[patch_address(offered_from, GOOD[MIDDLE])] = patch
    return files


def good_files():
    files = {MANIFEST: manifest_of([(p, md5_upper(d)) for p, d in GOOD.items()])}
    files.update({BASE + "game/" + p.replace("\\", "/"): d for p, d in GOOD.items()})
    return files


# Two updaters at once: enough tries and files that their renames cross.
TWO_AT_ONCE_FILES = int(os.environ.get("QAL_TWO_AT_ONCE_FILES", "40"))
TWO_AT_ONCE_TRIES = int(os.environ.get("QAL_TWO_AT_ONCE_TRIES", "6"))

# The signed updater trusts "first" and "second"; "other" is nobody's.
SEQUENCE = 1700000000


def key(name):
    return os.path.join(KEY_DIR, name + ".pem")


def signed_body(sequence=SEQUENCE, sha256=None, version="9.9"):
    """The manifest of the good files with sequence and sha256 attributes
    (None: left out); sha256 maps a path to the value listed for it."""
    sequence = "" if sequence is None else " sequence='%s'" % sequence
    lines = ["<?xml version='1.0'?>", "<update version='%s'%s>" % (version, sequence)]
    for path, data in GOOD.items():
        digest = (sha256 or {}).get(path, hashlib.sha256(data).hexdigest())
        attribute = "" if digest is None else " sha256='%s'" % digest
        lines.append("  <file path='%s' ver='%s'%s/>" % (path, md5_upper(data), attribute))
    lines.append("</update>")
    return ("\n".join(lines) + "\n").encode("latin-1")


def signed_files(manifest=None):
    files = good_files()
    files[MANIFEST] = manifest if manifest is not None else qaltest.sign_manifest(signed_body(), key("first"))
    return files


def lax_der(block_manifest):
    """The same signature with a needless leading zero before r: BER, not DER."""
    found = re.search(rb"<!--signature:([A-Za-z0-9+/=]+)-->", block_manifest)
    der = bytearray(base64.b64decode(found.group(1)))
    r_length = der[3]
    der[3:4] = bytes([r_length + 1, 0])
    der[1] += 1
    return block_manifest[:found.start(1)] + base64.b64encode(bytes(der)) + block_manifest[found.end(1):]


def random_signature(body):
    """A signature block of the right shape whose r and s are anyone's."""
    der = b"\x30\x44\x02\x20\x01" + os.urandom(31) + b"\x02\x20\x01" + os.urandom(31)
    return body + b"<!--signature:" + base64.b64encode(der) + b"-->\n"


class Installation:
    def __init__(self, name, updater=UPDATER, kept_manifest=None):
        self.root = qaltest.make_temp_dir("matrix-")
        self.dir = os.path.join(self.root, "Orvane Game")
        os.makedirs(os.path.join(self.dir, "game", "dir"))
        self.use(updater)
        shutil.copy(STUB, os.path.join(self.dir, "game", "PelMicroLauncher.exe"))
        with open(os.path.join(self.dir, "game", *MIDDLE.split("\\")), "wb") as f:
            f.write(OLDER)
        with open(os.path.join(self.root, "beside the installation.txt"), "wb") as f:
            f.write(b"not the updater's\n")
        if kept_manifest is not None:
            # What the last good run kept.
            os.makedirs(os.path.join(self.dir, "download"))
            with open(self.kept_manifest_path(), "wb") as f:
                f.write(kept_manifest)

    def kept_manifest_path(self):
        return os.path.join(self.dir, "download", "qupdater.xml")

    def kept_manifest(self):
        try:
            with open(self.kept_manifest_path(), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def snapshot_outside(self):
        """{path: bytes} of every file under the test's root except game\\ and
        download\\ of the installation."""
        files = {}
        for d, _, names in os.walk(self.root):
            rel = os.path.relpath(d, self.dir)
            if rel.split(os.sep)[0] in ("game", "download") and not rel.startswith(".."):
                continue
            for n in names:
                with open(os.path.join(d, n), "rb") as f:
                    files[os.path.relpath(os.path.join(d, n), self.root)] = f.read()
        return files

    def partials(self):
        return [os.path.join(d, n) for d, _, names in os.walk(self.root) for n in names if n.lower() == PARTIAL]

    def read(self, path):
        try:
            with open(os.path.join(self.dir, "game", *path.split("\\")), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def use(self, updater):
        shutil.copy(updater, os.path.join(self.dir, "qalUpdate.exe"))

    def run(self, answers=("IDOK",)):
        line = qaltest.quote_arg(qaltest.win_path(os.path.join(self.dir, "qalUpdate.exe"))) + " " + ARGS
        return qaltest.run_exact(line, cwd=self.root, answers=list(answers), timeout_ms=120000)


def changed_bytes(before, after):
    total = 0
    for path in set(before) | set(after):
        if before.get(path) != after.get(path):
            total += len(after.get(path, b"")) or len(before.get(path, b""))
    return total


def outcome_of(report):
    boxes = [b["text"] for b in report["boxes"]]
    if report["timed_out"]:
        return "hung"
    return "%s / %d" % (", ".join(boxes) or "no box", report["exit_code"])


class FaultMatrix(qaltest.unittest.TestCase):
    rows = []

    @classmethod
    def tearDownClass(cls):
        lines = ["| case | outcome | bytes outside `game\\` | older copy | partial files | healed |",
                 "|---|---|---|---|---|---|"]
        for row in cls.rows:
            lines.append("| %s | %s | %d | %s | %d | %s |" % row)
        path = qaltest.build_path("fault-matrix.md")
        with open(path, "w", encoding="utf-8") as f:
            f.write("Fault matrix (%s), produced by tests/updater/fault_matrix_test.py\n\n" % qaltest.TARGET)
            f.write("\n".join(lines) + "\n")
        print("\n".join(lines))

    def run_case(self, name, files, fault_path=None, mode=None, expect=FAILED, no_server=False,
                 updater=None, heal_files=None, kept_manifest=None, manifest_refused=True, prepare=None):
        # A silent server is given up on after a few seconds, not 60.
        if updater is None:
            updater = SHORT_STALL_UPDATER if mode == "stall" else UPDATER
        install = Installation(name, updater, kept_manifest)
        if prepare:
            prepare(install)
        before = install.snapshot_outside()
        if no_server:
            report = install.run()
        else:
            with qaltest.ResourceServer(port=PORT, files=files) as server:
                if fault_path:
                    server.fail(fault_path, mode)
                report = install.run()
                requested = server.paths_requested()
        outcome = outcome_of(report)
        outside = changed_bytes(before, install.snapshot_outside())
        older = install.read(MIDDLE)
        older_state = "intact" if older == OLDER else ("replaced" if older == GOOD[MIDDLE] else "DAMAGED")
        partials = len(install.partials())
        kept_after = install.kept_manifest()

        if updater != SIGNED_UPDATER:
            install.use(UPDATER)
        with qaltest.ResourceServer(port=PORT, files=heal_files or good_files()):
            healing = install.run()
        healed = (healing["exit_code"] == 0 and not healing["boxes"]
                  and all(install.read(p) == d for p, d in GOOD.items()) and not install.partials())
        self.rows.append((name, outcome, outside, older_state, partials, "yes" if healed else "NO"))

        self.assertEqual(outcome, expect, name)
        self.assertEqual(outside, 0, name)
        self.assertEqual(older_state, "replaced" if expect.endswith("/ 0") else "intact", name)
        self.assertEqual(partials, 0, name)
        if kept_manifest is not None and manifest_refused:
            self.assertEqual(kept_after, kept_manifest, name + ": the kept manifest was touched")
        self.assertTrue(healed, (name, healing))
        return [] if no_server else requested

    def test_the_manifest_fails_in_transfer(self):
        for mode in TRANSFER_FAULTS:
            with self.subTest(mode=mode):
                self.run_case("manifest: " + mode, good_files(), MANIFEST, mode, no_server=mode == "refused")

    def test_a_file_in_the_middle_fails_in_transfer(self):
        for mode in TRANSFER_FAULTS:
            with self.subTest(mode=mode):
                if mode == "refused":
                    # The server stops listening once the file before it is served.
                    self.run_case("file: refused", good_files(), BASE + "game/a.dat", "refuse_after")
                else:
                    self.run_case("file: " + mode, good_files(), BASE + "game/dir/b.dat", mode)

    def test_the_manifest_itself_is_bad(self):
        deep = b"<update>" + b"<a>" * 1000 + b"</a>" * 1000 + b"</update>"
        cases = [("manifest: empty", b""),
                 ("manifest: not well formed", b"<update><file path='a.dat' ver='00'></update>"),
                 ("manifest: nested 1000 deep", deep)]
        for path in UNSAFE_PATHS:
            cases.append(("manifest: entry %s" % path.replace("\\", "\\\\").replace("|", "\\|"),
                          manifest_of([("a.dat", md5_upper(GOOD["a.dat"])), (path, "00")])))
        for name, body in cases:
            with self.subTest(case=name):
                files = good_files()
                files[MANIFEST] = body
                self.run_case(name, files)

    def test_a_manifest_of_100000_entries(self):
        # Every entry names one of the current files: planned one by one,
        # nothing to fetch, the micro-client starts.
        entries = [(p, md5_upper(d)) for p, d in GOOD.items()]
        files = good_files()
        files[MANIFEST] = manifest_of([entries[i % 3] for i in range(100000)])
        install = Installation("100000 entries")
        for path, data in GOOD.items():
            with open(os.path.join(install.dir, "game", *path.split("\\")), "wb") as f:
                f.write(data)
        before = install.snapshot_outside()
        with qaltest.ResourceServer(port=PORT, files=files) as server:
            report = install.run()
        outcome = outcome_of(report)
        self.rows.append(("manifest: 100,000 entries, all current", outcome,
                          changed_bytes(before, install.snapshot_outside()),
                          "current" if install.read(MIDDLE) == GOOD[MIDDLE] else "DAMAGED",
                          len(install.partials()), "yes" if report["exit_code"] == 0 else "NO"))
        self.assertEqual(outcome, "no box / 0")
        self.assertEqual(server.paths_requested(), [MANIFEST])


    def test_a_patch_makes_the_file_and_any_trouble_with_it_fetches_the_whole_file(self):
        address = patch_address(OLDER, GOOD[MIDDLE])
        whole = BASE + "game/dir/b.dat"
        patch = zstd_patch(OLDER, GOOD[MIDDLE])
        other = zstd_patch(OLDER, GOOD[MIDDLE][:-1] + b"!")
        ok = "no box / 0"
        # Without manifest keys a patch listed without its SHA-256 is taken
        # too: its size, and the digest of what it makes, prove it.
        for name, sha256 in [("patch: applied", True), ("patch: listed without its SHA-256", None)]:
            requested = self.run_case(name, patched_files(sha256=sha256), expect=ok)
            self.assertIn(address, requested)
            self.assertNotIn(whole, requested)
        # Each ends current through the whole file.
        cases = [("patch: " + mode, patched_files(), address, mode)
                 for mode in ("404", "500", "truncate", "chunked_cut", "other_bytes", "stall")]
        cases += [("patch: a SHA-256 other than the listed one", patched_files(sha256="0" * 64), None, None),
                  ("patch: a size other than the listed one", patched_files(size=len(patch) + 1), None, None),
                  ("patch: decodes to other bytes", patched_files(patch=other), None, None),
                  ("patch: asks for a 3.75 GiB window", patched_files(patch=HUGE_WINDOW_FRAME), None, None)]
        for name, files, fault_path, mode in cases:
            with self.subTest(case=name):
                requested = self.run_case(name, files, fault_path, mode, expect=ok)
                self.assertIn(address, requested, name)
                self.assertIn(whole, requested, name)
                self.assertLess(requested.index(address), requested.index(whole), name)

        # No patch is asked for where none could serve: a copy the player
        # changed, or no copy at all.
        def remove_copy(install):
            os.remove(os.path.join(install.dir, "game", *MIDDLE.split("\\")))
        for name, files, prepare in [
                ("patch: offered from a copy other than the player's",
                 patched_files(offered_from=OLDER + b"edited"), None),
                ("patch: offered, and the player has no copy", patched_files(), remove_copy)]:
            requested = self.run_case(name, files, expect=ok, prepare=prepare)
            self.assertIn(whole, requested)
            self.assertFalse([p for p in requested if "/patch/" in p], requested)

    @qaltest.unittest.skipUnless(SIGNED_UPDATER, "no updater built with manifest keys")
    def test_a_signed_updater_takes_only_patches_the_signature_covers(self):
        kept = qaltest.sign_manifest(signed_body(), key("first"))
        heal = signed_files(qaltest.sign_manifest(signed_body(SEQUENCE + 1), key("first")))
        for name, sha256 in [("signed: patch applied", True), ("signed: a patch listed without SHA-256", None)]:
            with self.subTest(case=name):
                requested = self.run_case(name, patched_files(sha256=sha256, signed=True), expect="no box / 0",
                                          updater=SIGNED_UPDATER, heal_files=heal, kept_manifest=kept,
                                          manifest_refused=False)
                used = patch_address(OLDER, GOOD[MIDDLE]) in requested
                self.assertEqual(used, sha256 is True, requested)
                self.assertEqual(BASE + "game/dir/b.dat" in requested, not used, requested)

    def test_a_trickling_manifest_and_a_huge_one_fail_within_their_bounds(self):
        # The short build bounds the manifest's whole transfer at 12 s, while
        # 4 KiB every second never lets its 4 s of silence pass.
        files = good_files()
        files[MANIFEST] = files[MANIFEST].replace(b"</update>", b"<!--" + b"x" * 400000 + b"--></update>")
        started = time.monotonic()
        self.run_case("manifest: 4 KiB a second, past its 12 s bound", files, MANIFEST, "trickle",
                      updater=SHORT_STALL_UPDATER)
        self.assertLess(time.monotonic() - started, 60)

        files = good_files()
        files[MANIFEST] = b"<update>" + b"<!--" + b"x" * (65 * 1024 * 1024) + b"--></update>"
        self.run_case("manifest: 65 MiB", files)

    def test_a_read_only_copy_is_replaced_and_only_it_loses_the_mark(self):
        install = Installation("read-only")
        older = os.path.join(install.dir, "game", "dir", "b.dat")
        current = os.path.join(install.dir, "game", "c.dat")
        with open(current, "wb") as f:
            f.write(GOOD["c.dat"])
        # Wine shows a file without write permission as read-only.
        for path in (older, current):
            os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        with qaltest.ResourceServer(port=PORT, files=good_files()) as server:
            report = install.run()
        marked = not os.stat(current).st_mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH)
        self.rows.append(("file: the older copy read-only", outcome_of(report), 0,
                          "replaced" if install.read(MIDDLE) == GOOD[MIDDLE] else "NOT REPLACED",
                          len(install.partials()), "yes" if report["exit_code"] == 0 else "NO"))
        self.assertEqual(outcome_of(report), "no box / 0")
        self.assertEqual(install.read(MIDDLE), GOOD[MIDDLE])
        self.assertTrue(marked, "a current file lost its read-only mark")
        self.assertNotIn(BASE + "game/c.dat", server.paths_requested())

    def test_two_updaters_at_once_both_end_well(self):
        # Many small files side by side in one directory, each arriving
        # slowly: the two updaters finish files, prove and rename them at
        # moments that keep crossing.
        many = {"f%02d.dat" % i: os.urandom(200 + 37 * i) for i in range(TWO_AT_ONCE_FILES)}
        files = {MANIFEST: manifest_of([(p, md5_upper(d)) for p, d in many.items()])}
        files.update({BASE + "game/" + p: d for p, d in many.items()})
        tries, failures = TWO_AT_ONCE_TRIES, []
        for attempt in range(tries):
            install = Installation("two at once")
            # Left by updaters that are no longer running.
            for stale in (os.path.join(install.dir, "game", "dir", "qalUpdate.3.part"),
                          os.path.join(install.dir, "game", "qalUpdate.part")):
                with open(stale, "wb") as f:
                    f.write(b"stale")
            reports = [None, None]
            with qaltest.ResourceServer(port=PORT, files=files) as server:
                server.default_mode = "slow"
                server.slow_pause = 0.01

                def run(index, delay):
                    time.sleep(delay)
                    reports[index] = install.run()
                threads = [threading.Thread(target=run, args=(0, 0)),
                           threading.Thread(target=run, args=(1, random.uniform(0, 2)))]
                for thread in threads:
                    thread.start()
                for thread in threads:
                    thread.join()
            outcomes = [outcome_of(r) for r in reports]
            wrong = [p for p, d in many.items() if install.read(p) != d]
            partials = install.partials()
            with qaltest.ResourceServer(port=PORT, files=files) as server:
                again = install.run()
            if (outcomes != ["no box / 0"] * 2 or wrong or partials or outcome_of(again) != "no box / 0"
                    or server.paths_requested() != [MANIFEST] or install.partials()):
                failures.append((attempt, outcomes, wrong, partials, outcome_of(again)))
        self.rows.append(("two updaters 0-2 s apart, %d slow files, %d tries" % (len(many), tries),
                          "no box / 0 twice" if not failures else "%d of %d tries FAILED" % (len(failures), tries),
                          0, "-", 0, "yes" if not failures else "NO"))
        self.assertEqual(failures, [])

    @qaltest.unittest.skipUnless(SIGNED_UPDATER, "no updater built with manifest keys")
    def test_a_signed_updater_runs_only_what_its_keys_signed(self):
        # The last good run kept a genuine manifest of the same sequence.
        kept = qaltest.sign_manifest(signed_body(), key("first"))
        good = qaltest.sign_manifest(signed_body(), key("first"))
        unsigned = signed_body()
        changed = bytearray(good)
        changed[changed.index(b"version='9.9'") + 11] ^= 1  # 9.9 becomes 9.8 after signing
        wrong_sha = {MIDDLE: hashlib.sha256(OLDER).hexdigest()}
        cases = [("signed: no signature", unsigned, FAILED),
                 ("signed: a signature by nobody's key", random_signature(unsigned), FAILED),
                 ("signed: the genuine signature in lax DER", lax_der(good), FAILED),
                 ("signed: by a key not built in", qaltest.sign_manifest(unsigned, key("other")), FAILED),
                 ("signed: a byte changed after signing", bytes(changed), FAILED),
                 ("signed: a sequence below the kept one",
                  qaltest.sign_manifest(signed_body(SEQUENCE - 1), key("first")), FAILED),
                 ("signed: no sequence", qaltest.sign_manifest(signed_body(None), key("first")), FAILED),
                 ("signed: an entry without sha256",
                  qaltest.sign_manifest(signed_body(sha256={"c.dat": None}), key("first")), FAILED),
                 ("signed: a file whose MD5 matches and SHA-256 does not",
                  qaltest.sign_manifest(signed_body(sha256=wrong_sha), key("first")), FAILED),
                 ("signed: a later manifest by the second key (rotation)",
                  qaltest.sign_manifest(signed_body(SEQUENCE + 1), key("second")), "no box / 0")]
        for name, manifest, expect in cases:
            with self.subTest(case=name):
                # The manifest is refused, and the last good one kept, in
                # all but the last two rows.
                self.run_case(name, signed_files(manifest), expect=expect, updater=SIGNED_UPDATER,
                              manifest_refused=cases.index((name, manifest, expect)) < len(cases) - 2,
                              heal_files=signed_files(qaltest.sign_manifest(signed_body(SEQUENCE + 1),
                                                                            key("first"))),
                              kept_manifest=kept)

    @qaltest.unittest.skipUnless(SIGNED_UPDATER, "no updater built with manifest keys")
    def test_an_updater_without_keys_ignores_signatures(self):
        # The unsigned rules: the sha256 the manifest lists is not read.
        manifest = qaltest.sign_manifest(signed_body(sha256={MIDDLE: "0" * 64}), key("other"))
        self.run_case("unsigned updater: a signed manifest with a wrong sha256", signed_files(manifest),
                      expect="no box / 0")


class HttpsRows(qaltest.unittest.TestCase):
    """An updater whose base address is https://localhost:PORT/: a whole
    update through a certificate its prefix trusts, and a failure that
    changes nothing through one it does not."""

    @classmethod
    def setUpClass(cls):
        if not HTTPS_UPDATER:
            raise qaltest.unittest.SkipTest("no updater built with an HTTPS address")
        cls.certs = qaltest.make_temp_dir("certs-")
        trusted = qaltest.make_certificate_authority(cls.certs, "Orvane test authority")
        os.makedirs(os.path.join(cls.certs, "trusted"))
        os.makedirs(os.path.join(cls.certs, "untrusted"))
        cls.trusted = qaltest.make_server_certificate(os.path.join(cls.certs, "trusted"), trusted)
        stranger = qaltest.make_certificate_authority(cls.certs, "Nobody's authority")
        cls.untrusted = qaltest.make_server_certificate(os.path.join(cls.certs, "untrusted"), stranger)
        qaltest.trust_root(trusted[0])
        cls.rows = []

    @classmethod
    def tearDownClass(cls):
        lines = ["| case | outcome | bytes outside `game\\` | older copy | partial files |", "|---|---|---|---|---|"]
        lines += ["| %s | %s | %d | %s | %d |" % row for row in cls.rows]
        with open(qaltest.build_path("fault-matrix-https.md"), "w", encoding="utf-8") as f:
            f.write("HTTPS (%s), produced by tests/updater/fault_matrix_test.py\n\n" % qaltest.TARGET)
            f.write("\n".join(lines) + "\n")
        print("\n".join(lines))

    def run_over(self, name, tls):
        install = Installation(name, HTTPS_UPDATER)
        before = install.snapshot_outside()
        with qaltest.ResourceServer(port=HTTPS_PORT, files=good_files(), tls=tls) as server:
            report = install.run()
        older = install.read(MIDDLE)
        state = "intact" if older == OLDER else ("replaced" if older == GOOD[MIDDLE] else "DAMAGED")
        row = (name, outcome_of(report), changed_bytes(before, install.snapshot_outside()), state,
               len(install.partials()))
        self.rows.append(row)
        return row, install, server

    def test_a_whole_update_over_https(self):
        row, install, server = self.run_over("https: trusted certificate", self.trusted)
        self.assertEqual(row[1:], ("no box / 0", 0, "replaced", 0), row)
        self.assertTrue(all(install.read(p) == d for p, d in GOOD.items()))
        self.assertEqual(sorted(server.paths_requested()), sorted(good_files()))
        self.assertTrue(os.path.exists(os.path.join(install.dir, "game", "launch-record.txt")))

    def test_an_untrusted_certificate_changes_nothing(self):
        row, install, server = self.run_over("https: untrusted certificate", self.untrusted)
        self.assertEqual(row[1:], (FAILED, 0, "intact", 0), row)
        self.assertEqual(server.paths_requested(), [])
        self.assertIsNone(install.kept_manifest())
        self.assertFalse(os.path.exists(os.path.join(install.dir, "game", "launch-record.txt")))


if __name__ == "__main__":
    qaltest.main()
