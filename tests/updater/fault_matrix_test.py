"""What qalUpdate survives, as one table: every way the manifest or a file in
the middle of a run can fail, each followed by a good run that must heal the
installation. For every case: the box and exit code, no path changed outside
game\\ (and the updater's own download\\) beside the front door's two
programs, those programs kept (or, where the manifest offers new ones,
replaced whole), the player's older copy intact, no partial file left, and
after the good run every listed file matching its digest. The table lands in
the build tree as fault-matrix.md.

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
ARCH_OF_BUILD = qaltest.TARGET
LAUNCHER = os.environ["QAL_LAUNCHER_EXE"]
SHORT_STALL_UPDATER = os.environ["QAL_UPDATER_SHORT_STALL_EXE"]
STUB = os.environ["QAL_STUB_CLIENT_EXE"]
SIGNED_UPDATER = os.environ.get("QAL_UPDATER_SIGNED_EXE")
# The updaters players had before objects and front-door offers, built from
# the project's history (absent from a clone without it).
UPDATER_BEFORE = os.environ.get("QAL_UPDATER_BEFORE_EXE")
SIGNED_UPDATER_BEFORE = os.environ.get("QAL_UPDATER_BEFORE_SIGNED_EXE")
MANIFEST_TOOL = os.environ.get("QAL_MANIFEST_TOOL_EXE")
HTTPS_UPDATER = os.environ.get("QAL_UPDATER_HTTPS_EXE")
HTTPS_PORT = int(os.environ.get("QAL_TEST_HTTPS_PORT", "0"))
KEY_DIR = os.environ.get("QAL_TEST_KEY_DIR", "")
BASE = "/qal_lianyun/micro/"
MANIFEST = BASE + "qupdater.xml"
ARGS = 'http://127.0.0.1:9/login/entergame.htm?uid=1 "C:\\Orvane\\qalLogin.exe"'
FAILED = "更新失败! / 100"
# Any slot's partial file, as the updater names them.
PARTIAL = re.compile(r"qalupdate(\.\d)?\.part")

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


# One byte more than this target's updater patches (512 MiB for i686, 2 GiB
# for x86_64): a sparse file, which costs the disk nothing.
OVER_THE_PATCH_BOUND = ((512 << 20) if ARCH_OF_BUILD == "i686" else (2 << 30)) + 1


def zeros_digest(size):
    """What a patch offer lists as the digest of size zero bytes."""
    digest, block = hashlib.md5(), bytes(1 << 20)
    for _ in range(size >> 20):
        digest.update(block)
    digest.update(bytes(size & ((1 << 20) - 1)))
    return digest.hexdigest().upper()


# A frame that asks for a 3.75 GiB window: more than any updater may hold.
HUGE_WINDOW_FRAME = b"\x28\xb5\x2f\xfd\x00\xaf" + bytes([1 | (4 << 3), 0, 0]) + b"data"


def patch_address(older, newer):
    return BASE + "patch/%s-%s.zst" % (md5_upper(older), md5_upper(newer))


def patched_files(patch=None, offered_from=OLDER, sha256=True, size=None, signed=False):
    """The good files, with the middle file's entry offering a patch from
    offered_from (its bytes, or its digest as a text), served at its
    address. sha256: True lists the patch's own, a text lists that, None
    lists none; size likewise."""
    patch = zstd_patch(OLDER, GOOD[MIDDLE]) if patch is None else patch
    from_digest = offered_from if isinstance(offered_from, str) else md5_upper(offered_from)
    digest = hashlib.sha256(patch).hexdigest() if sha256 is True else sha256
    lines = ["<?xml version='1.0'?>", "<update version='9.9'%s>" % (" sequence='%d'" % SEQUENCE if signed else "")]
    for path, data in GOOD.items():
        own = " sha256='%s'" % hashlib.sha256(data).hexdigest() if signed else ""
        lines.append("  <file path='%s' ver='%s'%s>" % (path, md5_upper(data), own))
        if path == MIDDLE:
            lines.append("    <patch from='%s'%s size='%d'/>" % (
                from_digest, "" if digest is None else " sha256='%s'" % digest,
                len(patch) if size is None else size))
        lines.append("  </file>")
    lines.append("</update>")
    body = ("\n".join(lines) + "\n").encode("latin-1")
    files = good_files()
    files[MANIFEST] = qaltest.sign_manifest(body, key("first")) if signed else body
    files[BASE + "patch/%s-%s.zst" % (from_digest, md5_upper(GOOD[MIDDLE]))] = patch
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


# The front door's two programs, and the images of the updater moved aside
# while it was replaced, beside the installation's game\\.
FRONT_DOOR = ("qalLogin.exe", "qalUpdate.exe")
MOVED_ASIDE = re.compile(r"qalupdate\.exe\.[0-9a-f]{8}\.old")


ARCH = qaltest.TARGET
OTHER_ARCH = "x86_64" if ARCH == "i686" else "i686"


def next_front_door(updater=UPDATER):
    """The programs of a next release: this build's, each with bytes after
    its image, which the loader never reads: other digests, and still a
    program that starts."""
    programs = {}
    for name, path in (("qalLogin.exe", LAUNCHER), ("qalUpdate.exe", updater)):
        with open(path, "rb") as f:
            programs[name] = f.read() + b"\0Orvane front door 1.0.5\n"
    return programs


def front_door_address(name, data, arch=ARCH):
    return BASE + "frontdoor/%s/%s/%s" % (arch, md5_upper(data), name)


def offer_line(name, data, arch=ARCH, sha256=True, size=None):
    return "  <frontdoor arch='%s' name='%s' ver='%s'%s size='%d' version='1.0.5'/>" % (
        arch, name, md5_upper(data), " sha256='%s'" % hashlib.sha256(data).hexdigest() if sha256 else "",
        len(data) if size is None else size)


def offering(programs, arch=ARCH, sha256=True, size=None, after_first_file=False, signed=False, serve=True):
    """The good files, their manifest offering programs ({name: bytes}) and
    (serve) the programs at their addresses."""
    offers = [offer_line(n, d, arch, sha256, size) for n, d in sorted(programs.items())]
    lines = []
    for path, data in GOOD.items():
        own = " sha256='%s'" % hashlib.sha256(data).hexdigest() if signed else ""
        lines.append("  <file path='%s' ver='%s'%s/>" % (path, md5_upper(data), own))
    lines[1 if after_first_file else 0:1 if after_first_file else 0] = offers
    head = "<update version='9.9'%s>" % (" sequence='%d'" % SEQUENCE if signed else "")
    body = ("\n".join(["<?xml version='1.0'?>", head] + lines + ["</update>"]) + "\n").encode("latin-1")
    files = good_files()
    files[MANIFEST] = qaltest.sign_manifest(body, key("first")) if signed else body
    if serve:
        files.update({front_door_address(n, d, arch): d for n, d in programs.items()})
    return files


class Installation:
    def __init__(self, name, updater=UPDATER, kept_manifest=None):
        self.root = qaltest.make_temp_dir("matrix-")
        self.dir = os.path.join(self.root, "Orvane Game")
        os.makedirs(os.path.join(self.dir, "game", "dir"))
        self.use(updater)
        shutil.copy(LAUNCHER, os.path.join(self.dir, "qalLogin.exe"))
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

    def is_front_door(self, relative):
        """Whether a path (relative to the root) is one of the front door's
        programs or an updater image moved aside, which the front door
        column judges."""
        head, name = os.path.split(relative)
        return head == os.path.basename(self.dir) and (name in FRONT_DOOR or MOVED_ASIDE.fullmatch(name.lower()))

    def snapshot_outside(self):
        """{path: bytes, or DIRECTORY} of everything under the test's root
        except game\\ and download\\ of the installation and the front door."""
        found = {}
        for d, dirs, names in os.walk(self.root):
            rel = os.path.relpath(d, self.dir)
            if rel.split(os.sep)[0] in ("game", "download") and not rel.startswith(".."):
                continue
            for n in dirs:
                if not (d == self.dir and n in ("game", "download")):
                    found[os.path.relpath(os.path.join(d, n), self.root)] = DIRECTORY
            for n in names:
                relative = os.path.relpath(os.path.join(d, n), self.root)
                if not self.is_front_door(relative):
                    with open(os.path.join(d, n), "rb") as f:
                        found[relative] = f.read()
        return found

    def front_door(self):
        """{name: bytes or None} of the two programs."""
        programs = {}
        for name in FRONT_DOOR:
            try:
                with open(os.path.join(self.dir, name), "rb") as f:
                    programs[name] = f.read()
            except FileNotFoundError:
                programs[name] = None
        return programs

    def moved_aside(self):
        return sorted(n for n in os.listdir(self.dir) if MOVED_ASIDE.fullmatch(n.lower()))

    def partials(self):
        return [os.path.join(d, n) for d, _, names in os.walk(self.root) for n in names
                if PARTIAL.fullmatch(n.lower())]

    def read(self, path):
        try:
            with open(os.path.join(self.dir, "game", *path.split("\\")), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def launches(self):
        """The micro-client's command lines, one a start."""
        try:
            with open(os.path.join(self.dir, "game", "launch-log.txt"), encoding="utf-8") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def use(self, updater):
        shutil.copy(updater, os.path.join(self.dir, "qalUpdate.exe"))

    def command_line(self):
        return qaltest.quote_arg(qaltest.win_path(os.path.join(self.dir, "qalUpdate.exe"))) + " " + ARGS

    def run(self, answers=("IDOK",), kill_after_ms=0):
        # What the updater told a debugger says why a run failed.
        return qaltest.run_exact(self.command_line(), cwd=self.root, answers=list(answers), timeout_ms=120000,
                                 kill_after_ms=kill_after_ms, debug_output=True)


# A directory in a snapshot.
DIRECTORY = object()


def changed_paths(before, after):
    """Every path that appeared, disappeared or changed, whatever its size."""
    return sorted(p for p in set(before) | set(after) if before.get(p, None) != after.get(p, None))


def outcome_of(report):
    boxes = [b["text"] for b in report["boxes"]]
    if report["timed_out"]:
        return "hung"
    return "%s / %d" % (", ".join(boxes) or "no box", report["exit_code"])


def told(report):
    """What the updater told a debugger of why something was not taken."""
    return [line for line in report.get("debug_output", []) if "qalUpdate: " in line]


def front_door_state(before, after, offered=None):
    """"kept" when both programs are as they were, "new" when both are the
    offered ones (offered: {name: bytes}; a program not offered is kept),
    "NO UPDATER"/"MIXED" otherwise."""
    if after == before:
        return "kept"
    if offered and after == dict(before, **offered):
        return "new"
    return "NO UPDATER" if after["qalUpdate.exe"] is None else "MIXED"


class FaultMatrix(qaltest.unittest.TestCase):
    rows = []

    @classmethod
    def tearDownClass(cls):
        lines = ["| case | outcome | paths changed outside `game\\` | front door | older copy | partial files | healed |",
                 "|---|---|---|---|---|---|---|"]
        for row in cls.rows:
            lines.append("| %s | %s | %d | %s | %s | %d | %s |" % row)
        path = qaltest.build_path("fault-matrix.md")
        with open(path, "w", encoding="utf-8") as f:
            f.write("Fault matrix (%s), produced by tests/updater/fault_matrix_test.py\n\n" % qaltest.TARGET)
            f.write("\n".join(lines) + "\n")
        print("\n".join(lines))

    def heal(self, install, heal_files=None, updater=None, asides_allowed=False):
        """A good run after the case: true when it ends well, every listed
        file current, no partial file and (unless it may have replaced the
        updater itself) no image aside left."""
        if updater:
            install.use(updater)
        with qaltest.ResourceServer(port=PORT, files=heal_files or good_files()):
            healing = install.run()
        self.last_healing = healing
        return (healing["exit_code"] == 0 and not healing["boxes"]
                and all(install.read(p) == d for p, d in GOOD.items()) and not install.partials()
                and (asides_allowed or not install.moved_aside()))

    def run_case(self, name, files, fault_path=None, mode=None, expect=FAILED, no_server=False,
                 updater=None, heal_files=None, kept_manifest=None, manifest_refused=True, prepare=None,
                 anything=None, offered=None, expect_front_door="kept", expect_requests=None):
        """One row. anything: bytes the server answers at every other
        address; offered: the programs the manifest offers ({name: bytes});
        expect_requests: exactly the paths the run may ask for."""
        # A silent server is given up on after a few seconds, not 60.
        if updater is None:
            updater = SHORT_STALL_UPDATER if mode == "stall" else UPDATER
        install = Installation(name, updater, kept_manifest)
        if prepare:
            prepare(install)
        before = install.snapshot_outside()
        programs = install.front_door()
        requested = []
        if no_server:
            report = install.run()
        else:
            with qaltest.ResourceServer(port=PORT, files=files, anything=anything) as server:
                if fault_path:
                    server.fail(fault_path, mode)
                report = install.run()
                requested = server.paths_requested()
        outcome = outcome_of(report)
        outside = changed_paths(before, install.snapshot_outside())
        front = front_door_state(programs, install.front_door(), offered)
        older = install.read(MIDDLE)
        older_state = "intact" if older == OLDER else ("replaced" if older == GOOD[MIDDLE] else "DAMAGED")
        partials = len(install.partials())
        kept_after = install.kept_manifest()
        launches = install.launches()
        self.moved_aside = install.moved_aside()

        # The front door a case left is the one the next start runs.
        keep = updater == SIGNED_UPDATER or expect_front_door != "kept"
        healed = self.heal(install, heal_files, None if keep else UPDATER)
        self.rows.append((name, outcome, len(outside), front, older_state, partials, "yes" if healed else "NO"))

        self.assertEqual(outcome, expect, name)
        self.assertEqual(outside, [], name)
        self.assertEqual(front, expect_front_door, name)
        self.assertEqual(older_state, "replaced" if expect.endswith("/ 0") else "intact", name)
        self.assertEqual(partials, 0, name)
        # Started once, with the argument text exactly, whenever the run ended well.
        self.assertEqual(len(launches), 1 if expect.endswith("/ 0") else 0, (name, launches))
        if launches:
            self.assertTrue(launches[0].endswith(" " + ARGS), (name, launches))
        if kept_manifest is not None and manifest_refused:
            self.assertEqual(kept_after, kept_manifest, name + ": the kept manifest was touched")
        if expect_requests is not None:
            self.assertEqual(requested, expect_requests, name)
        self.assertTrue(healed, (name, self.last_healing))
        return requested

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
        # Every address an unsafe path could make the updater ask for
        # answers with bytes its entry lists: an updater that let one pass
        # would fetch it and end well, and the server would see it asked.
        anywhere = b"written wherever the entry said\n"
        for path in UNSAFE_PATHS:
            cases.append(("manifest: entry %s" % path.replace("\\", "\\\\").replace("|", "\\|"),
                          manifest_of([("a.dat", md5_upper(GOOD["a.dat"])), (path, md5_upper(anywhere))])))
        for name, body in cases:
            with self.subTest(case=name):
                files = good_files()
                files[MANIFEST] = body
                self.run_case(name, files, anything=anywhere, expect_requests=[MANIFEST])

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
        programs = install.front_door()
        with qaltest.ResourceServer(port=PORT, files=files) as server:
            report = install.run()
        outcome = outcome_of(report)
        outside = changed_paths(before, install.snapshot_outside())
        front = front_door_state(programs, install.front_door())
        current = "current" if install.read(MIDDLE) == GOOD[MIDDLE] else "DAMAGED"
        partials = len(install.partials())
        healed = self.heal(install)
        self.rows.append(("manifest: 100,000 entries, all current", outcome, len(outside), front, current, partials,
                          "yes" if healed else "NO"))
        self.assertEqual(outcome, "no box / 0")
        self.assertEqual(server.paths_requested(), [MANIFEST])
        self.assertEqual((outside, front, current, partials), ([], "kept", "current", 0))
        self.assertEqual(len(install.launches()), 2)
        self.assertTrue(healed, self.last_healing)

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
        # changed, no copy at all, or a copy larger than this build patches
        # (it would only refuse the patch once fetched).
        def remove_copy(install):
            os.remove(os.path.join(install.dir, "game", *MIDDLE.split("\\")))

        def copy_over_the_bound(install):
            with open(os.path.join(install.dir, "game", *MIDDLE.split("\\")), "wb") as f:
                f.truncate(OVER_THE_PATCH_BOUND)
        for name, files, prepare in [
                ("patch: offered from a copy other than the player's",
                 patched_files(offered_from=OLDER + b"edited"), None),
                ("patch: offered, and the player has no copy", patched_files(), remove_copy),
                ("patch: offered for a copy larger than this updater patches",
                 patched_files(offered_from=zeros_digest(OVER_THE_PATCH_BOUND)), copy_over_the_bound)]:
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
        current = []

        def mark_read_only(install):
            older = os.path.join(install.dir, "game", "dir", "b.dat")
            current.append(os.path.join(install.dir, "game", "c.dat"))
            with open(current[0], "wb") as f:
                f.write(GOOD["c.dat"])
            # Wine shows a file without write permission as read-only.
            for path in (older, current[0]):
                os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        requested = self.run_case("file: the older copy read-only", good_files(), expect="no box / 0",
                                  prepare=mark_read_only)
        self.assertNotIn(BASE + "game/c.dat", requested)

    def two_at_once(self, name, many, files, tries, offered=None):
        """Two updaters started 0-2 s apart, tries times over: each must end
        well, every file listed must then be current, nothing left behind
        and nothing changed outside game\\, the front door kept (or, when
        offered, replaced whole), and a third run must find it all current."""
        failures, outside_changed, partials_left, fronts = [], 0, 0, set()
        for attempt in range(tries):
            install = Installation(name)
            # Left by updaters that are no longer running.
            for stale in (os.path.join(install.dir, "game", "dir", "qalUpdate.3.part"),
                          os.path.join(install.dir, "game", "qalUpdate.part")):
                with open(stale, "wb") as f:
                    f.write(b"stale")
            before = install.snapshot_outside()
            programs = install.front_door()
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
            partials_left = max(partials_left, len(partials))
            outside = changed_paths(before, install.snapshot_outside())
            outside_changed = max(outside_changed, len(outside))
            front = front_door_state(programs, install.front_door(), offered)
            fronts.add(front)
            launches = install.launches()
            with qaltest.ResourceServer(port=PORT, files=files) as server:
                again = install.run()
            if (outcomes != ["no box / 0"] * 2 or wrong or partials or outside
                    or front != ("new" if offered else "kept") or len(launches) != 2
                    or outcome_of(again) != "no box / 0" or server.paths_requested() != [MANIFEST]
                    or install.partials() or install.moved_aside()):
                failures.append((attempt, outcomes, wrong, partials, outside, front, launches, outcome_of(again),
                                 server.paths_requested(), [told(r) for r in reports + [again]]))
        self.rows.append((name, "no box / 0 twice" if not failures else "%d of %d tries FAILED" % (len(failures), tries),
                          outside_changed, "/".join(sorted(fronts)), "-", partials_left,
                          "yes" if not failures else "NO"))
        self.assertEqual(failures, [])

    def test_two_updaters_at_once_both_end_well(self):
        # Many small files side by side in one directory, each arriving
        # slowly: the two updaters finish files, prove and rename them at
        # moments that keep crossing.
        many = {"f%02d.dat" % i: os.urandom(200 + 37 * i) for i in range(TWO_AT_ONCE_FILES)}
        files = {MANIFEST: manifest_of([(p, md5_upper(d)) for p, d in many.items()])}
        files.update({BASE + "game/" + p: d for p, d in many.items()})
        self.two_at_once("two updaters 0-2 s apart, %d slow files, %d tries" % (len(many), TWO_AT_ONCE_TRIES),
                         many, files, TWO_AT_ONCE_TRIES)

    def test_a_new_front_door_is_taken_whole_and_any_trouble_keeps_the_old_one(self):
        ok = "no box / 0"
        new = next_front_door()
        updater_only = {"qalUpdate.exe": new["qalUpdate.exe"]}
        address = front_door_address("qalUpdate.exe", new["qalUpdate.exe"])

        def link_programs(install):
            # Windows never lets the running updater's file be written; a
            # link to each program must keep the bytes it had.
            for name in FRONT_DOOR:
                os.link(os.path.join(install.dir, name), os.path.join(install.root, name + " as it was"))
        requested = self.run_case("front door: both programs replaced", offering(new), expect=ok, offered=new,
                                  expect_front_door="new", prepare=link_programs)
        # The running updater was moved aside, never replaced where it ran
        # (which Windows refuses, though Wine allows it).
        self.assertEqual(len(self.moved_aside), 1, self.moved_aside)
        self.assertEqual(sorted(p for p in requested if "/frontdoor/" in p),
                         sorted(front_door_address(n, d) for n, d in new.items()))
        # The new updater goes on with the game: the manifest once more, then the file.
        self.assertEqual(requested.count(MANIFEST), 2, requested)
        self.assertEqual(requested.count(BASE + "game/dir/b.dat"), 1, requested)

        # The front door's fetch is every file's (the file: rows show each of
        # its faults): a status, a cut body, other bytes and silence here.
        cases = [("front door: " + mode, offering(updater_only), address, mode)
                 for mode in ("404", "truncate", "other_bytes", "stall")]
        cases += [("front door: a size other than the listed one",
                   offering(updater_only, size=len(new["qalUpdate.exe"]) + 1), None, None)]
        for name, files, fault_path, mode in cases:
            with self.subTest(case=name):
                requested = self.run_case(name, files, fault_path, mode, expect=ok)
                self.assertIn(address, requested, name)

        # A program that is not this build's updater fails its check: the
        # micro-client offered in its place, and an updater whose keys would
        # refuse the manifest this one took (here: one built with keys, for
        # an installation whose manifests are unsigned).
        with open(STUB, "rb") as f:
            stub = f.read()
        refusing = next_front_door(SIGNED_UPDATER)["qalUpdate.exe"]
        for name, program in [("front door: the micro-client offered as qalUpdate.exe", stub),
                              ("front door: an updater that would refuse the manifest", refusing)]:
            with self.subTest(case=name):
                requested = self.run_case(name, offering({"qalUpdate.exe": program}), expect=ok)
                self.assertIn(front_door_address("qalUpdate.exe", program), requested, name)

        # Never an offer: another architecture's, or one after the first entry.
        for name, files in [("front door: offered for %s only" % OTHER_ARCH, offering(new, arch=OTHER_ARCH)),
                            ("front door: offered after the first file", offering(new, after_first_file=True))]:
            with self.subTest(case=name):
                requested = self.run_case(name, files, expect=ok)
                self.assertFalse([p for p in requested if "/frontdoor/" in p], (name, requested))

        # Once a hand-off: the new updater does not replace itself again,
        # even when the manifest it fetches offers yet another one.
        files = offering(new)
        again = next_front_door()
        again["qalUpdate.exe"] += b"again\n"
        files[MANIFEST] = [files[MANIFEST], offering(again, serve=False)[MANIFEST]]
        files.update({front_door_address(n, d): d for n, d in again.items()})
        requested = self.run_case("front door: the manifest offers yet another one to the new updater", files,
                                  expect=ok, offered=new, expect_front_door="new")
        self.assertEqual(len([p for p in requested if "/frontdoor/" in p]), 2, requested)

    def test_a_front_door_killed_at_any_moment_is_whole(self):
        # The updater's program comes slowly; the run is ended at moments
        # from its fetch to the new updater's own work. Each program must be
        # wholly the old one or wholly the new one, and the next start must
        # take the new front door and leave nothing behind.
        new = next_front_door()
        files = offering(new)
        for kill_ms in (2000, 4500, 7000):
            with self.subTest(kill_ms=kill_ms):
                install = Installation("killed")
                programs = install.front_door()
                with qaltest.ResourceServer(port=PORT, files=files) as server:
                    server.fail(front_door_address("qalUpdate.exe", new["qalUpdate.exe"]), "slow")
                    # A new updater may go on after the one started is ended: waited for.
                    qaltest.run_exact(install.command_line(), cwd=install.root, answers=["IDOK"], timeout_ms=120000,
                                      kill_after_ms=kill_ms, follow=["qalUpdate.exe"])
                after = install.front_door()
                whole = all(after[n] in (programs[n], new[n]) for n in FRONT_DOOR)
                partials = len(install.partials())
                # The next start takes the new front door (the image it moves
                # aside is the start after it's to remove, as other rows show).
                healed = self.heal(install, files, asides_allowed=True)
                state = front_door_state(programs, after, new)
                if state == "MIXED" and whole:
                    state = "whole, one new"
                self.rows.append(("front door: killed after %.1f s" % (kill_ms / 1000), "killed", 0, state, "-",
                                  partials, "yes" if healed else "NO"))
                self.assertTrue(whole, (kill_ms, state))
                # A partial file the kill left is the next start's to remove (healed).
                self.assertTrue(healed, self.last_healing)
                self.assertEqual(front_door_state(programs, install.front_door(), new), "new")

    def test_two_updaters_at_once_with_a_new_front_door_offered(self):
        many = {"f%02d.dat" % i: os.urandom(200 + 37 * i) for i in range(TWO_AT_ONCE_FILES // 2)}
        new = next_front_door()
        lines = [offer_line(n, d) for n, d in sorted(new.items())]
        lines += ["  <file path='%s' ver='%s'/>" % (p, md5_upper(d)) for p, d in many.items()]
        files = {MANIFEST: ("<update version='9.9'>\n" + "\n".join(lines) + "\n</update>\n").encode()}
        files.update({BASE + "game/" + p: d for p, d in many.items()})
        files.update({front_door_address(n, d): d for n, d in new.items()})
        tries = max(2, TWO_AT_ONCE_TRIES // 3)
        self.two_at_once("front door: two updaters 0-2 s apart, %d slow files, %d tries" % (len(many), tries),
                         many, files, tries, offered=new)

    @qaltest.unittest.skipUnless(SIGNED_UPDATER, "no updater built with manifest keys")
    def test_a_signed_updater_takes_only_front_doors_the_signature_covers(self):
        kept = qaltest.sign_manifest(signed_body(), key("first"))
        heal = signed_files(qaltest.sign_manifest(signed_body(SEQUENCE + 1), key("first")))
        new = next_front_door(SIGNED_UPDATER)
        for name, sha256 in [("signed: a new front door", True), ("signed: a front door without SHA-256", False)]:
            with self.subTest(case=name):
                requested = self.run_case(name, offering(new, sha256=sha256, signed=True), expect="no box / 0",
                                          updater=SIGNED_UPDATER, heal_files=heal, kept_manifest=kept,
                                          manifest_refused=False, offered=new,
                                          expect_front_door="new" if sha256 else "kept")
                self.assertEqual(len([p for p in requested if "/frontdoor/" in p]), 2 if sha256 else 0, requested)

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
                 # Genuine but older: a cache still serving an earlier
                 # publish. The kept one is taken instead, and stays.
                 ("signed: a sequence below the kept one: the kept one is taken",
                  qaltest.sign_manifest(signed_body(SEQUENCE - 1), key("first")), "no box / 0"),
                 ("signed: a sequence below the kept one and a byte changed",
                  qaltest.sign_manifest(signed_body(SEQUENCE - 1), key("first")).replace(b"9.9", b"9.8", 1), FAILED),
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
        lines = ["| case | outcome | paths changed outside `game\\` | older copy | partial files |",
                 "|---|---|---|---|---|"]
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
        row = (name, outcome_of(report), len(changed_paths(before, install.snapshot_outside())), state,
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


class CdnRows(qaltest.unittest.TestCase):
    """A publish behind a CDN: the updater's address is a caching edge
    (nginx, keeping every answer for a day whatever the origin says, see
    qaltest.CdnEdge) in front of the operator's origin. The operator
    publishes version A, then B, with qalManifest build --object-dir, in the
    order the README gives (objects, game/, the manifest last). Each row
    gives an edge the copies of A that a real edge could still hold, then
    has a player start: never a box, every listed file of one version
    proven, a signed installation never older than it was; the next start,
    through an edge that has forgotten A, brings B. The table lands in
    fault-matrix-cdn.md."""

    @classmethod
    def setUpClass(cls):
        if not MANIFEST_TOOL:
            raise qaltest.unittest.SkipTest("no qalManifest in this build")
        cls.rows = []
        with open(STUB, "rb") as f:
            stub = f.read()
        cls.versions = {"A": {"PelMicroLauncher.exe": stub, "a.dat": os.urandom(3000), "dir\\b.dat": os.urandom(9000),
                              "c.dat": b"c of A\n" * 50}}
        cls.versions["B"] = dict(cls.versions["A"], **{"dir\\b.dat": os.urandom(9500), "c.dat": b"c of B\n" * 60,
                                                       "new.dat": b"only in B\n"})
        cls.sites = {}
        for signed in (False, True):
            site = qaltest.make_temp_dir("origin-")
            for name, sequence in (("A", SEQUENCE), ("B", SEQUENCE + 1)):
                cls.publish(site, cls.versions[name], name, sequence if signed else None)
                cls.sites[name, signed] = qaltest.make_temp_dir("origin-%s-" % name)
                shutil.copytree(site, cls.sites[name, signed], dirs_exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        lines = ["| case | outcome | version after | paths changed outside `game\\` | partial files | "
                 "next start, through an edge without A |", "|---|---|---|---|---|---|"]
        lines += ["| %s | %s | %s | %d | %d | %s |" % row for row in cls.rows]
        with open(qaltest.build_path("fault-matrix-cdn.md"), "w", encoding="utf-8") as f:
            f.write("Behind a CDN (%s), produced by tests/updater/fault_matrix_test.py\n\n" % qaltest.TARGET)
            f.write("\n".join(lines) + "\n")
        print("\n".join(lines))

    @staticmethod
    def publish(site, tree, version, sequence):
        """What the operator does, in that order: objects (by qalManifest),
        the game tree, then the manifest."""
        root = os.path.join(site, BASE.strip("/"))
        game = qaltest.make_temp_dir("publish-")
        for path, data in tree.items():
            os.makedirs(os.path.join(game, os.path.dirname(path.replace("\\", "/"))), exist_ok=True)
            with open(os.path.join(game, *path.split("\\")), "wb") as f:
                f.write(data)
        staged = os.path.join(game, "..", os.path.basename(game) + ".xml")
        args = ["build", qaltest.win_path(game), "--version", version, "--object-dir",
                qaltest.win_path(os.path.join(root, "objects")), "-o", qaltest.win_path(staged)]
        if sequence:
            args += ["--sign", qaltest.win_path(key("first")), "--sequence", str(sequence)]
        os.makedirs(root, exist_ok=True)
        made = qaltest.run_windows(MANIFEST_TOOL, *args, timeout=300)
        if made.returncode != 0:
            raise RuntimeError("qalManifest build failed: %s" % (made.stdout + made.stderr).decode(errors="replace"))
        shutil.rmtree(os.path.join(root, "game"), ignore_errors=True)
        shutil.copytree(game, os.path.join(root, "game"))
        os.replace(staged, os.path.join(root, "qupdater.xml"))

    def addresses(self, name, signed, manifest=True, objects=True, game=True):
        """The addresses of version name an edge may still hold."""
        root = os.path.join(self.sites[name, signed], BASE.strip("/"))
        found = [MANIFEST] if manifest else []
        for path, data in self.versions[name].items():
            if objects:
                found.append(BASE + "objects/" + md5_upper(data))
            if game:
                found.append(BASE + "game/" + path.replace("\\", "/"))
        self.assertTrue(all(os.path.exists(os.path.join(root, a[len(BASE):])) for a in found))
        return found

    def player(self, name, signed):
        """An installation whose game\\ is version name, as an earlier run
        left it (a signed one keeps that version's manifest); None: new."""
        updater = SIGNED_UPDATER if signed else UPDATER
        kept = None
        if name and signed:
            with open(os.path.join(self.sites[name, True], BASE.strip("/"), "qupdater.xml"), "rb") as f:
                kept = f.read()
        install = Installation("cdn", updater, kept)
        os.remove(os.path.join(install.dir, "game", *MIDDLE.split("\\")))
        if not name:
            os.remove(os.path.join(install.dir, "game", "PelMicroLauncher.exe"))
        for path, data in (self.versions[name] if name else {}).items():
            with open(os.path.join(install.dir, "game", *path.split("\\")), "wb") as f:
                f.write(data)
        return install

    def version_of(self, install):
        for name, tree in self.versions.items():
            if all(install.read(p) == d for p, d in tree.items()):
                return name
        return "MIXED"

    def through_edge(self, install, held=(), signed=False, fail_origin=(), updater=None):
        """A start of the player's updater through a fresh edge that holds
        the addresses in held as A was published; B is published since."""
        cache = qaltest.make_temp_dir("edge-cache-")
        if held:
            with qaltest.ResourceServer(port=PORT + 50, root=self.sites["A", signed]) as origin, \
                    qaltest.CdnEdge(PORT, PORT + 50, cache) as edge:
                for address in held:
                    self.assertIsNotNone(edge.get(address), address)
        if updater:
            install.use(updater)
        with qaltest.ResourceServer(port=PORT + 50, root=self.sites["B", signed]) as origin:
            for path in fail_origin:
                origin.fail(path, "404")
            with qaltest.CdnEdge(PORT, PORT + 50, cache) as edge:
                report = install.run()
            asked = origin.paths_requested()
        return report, asked, edge.hits()

    def row(self, name, install, held=(), signed=False, expect="no box / 0", expect_version="B",
            fail_origin=(), updater=None):
        before = install.snapshot_outside()
        kept_before = install.kept_manifest()
        report, asked, hits = self.through_edge(install, held, signed, fail_origin, updater)
        outcome = outcome_of(report)
        version = self.version_of(install)
        outside = changed_paths(before, install.snapshot_outside())
        partials = len(install.partials())
        kept_after = install.kept_manifest()
        # The next start reaches an edge that has forgotten A: B, whole.
        if updater:
            install.use(SIGNED_UPDATER if signed else UPDATER)
        again, _, _ = self.through_edge(install, signed=signed)
        healed = outcome_of(again) == "no box / 0" and self.version_of(install) == "B" and not install.partials()
        self.rows.append((name, outcome, version, len(outside), partials, "B, no box" if healed else "NO"))
        self.assertEqual(outcome, expect, (name, hits))
        self.assertEqual(version, expect_version, (name, hits))
        self.assertEqual((outside, partials), ([], 0), name)
        if signed and kept_before is not None:
            # Never older than it was; taken back to A, the kept one stays.
            sequence = lambda kept: int(re.search(rb"sequence='?\"?(\d+)", kept).group(1))
            self.assertGreaterEqual(sequence(kept_after), sequence(kept_before), name)
        self.kept = (kept_before, kept_after)
        self.assertTrue(healed, (name, again))
        return asked, hits

    def test_a_publish_behind_an_edge_shows_no_player_a_failure(self):
        for signed in (False, True):
            flavour = "signed: " if signed else ""
            with self.subTest(signed=signed):
                # The edge still holds all of A: A, whole, for old and new players alike.
                held = self.addresses("A", signed)
                self.row(flavour + "cdn: the edge holds A; a player at A", self.player("A", signed), held, signed,
                         expect_version="A")
                self.row(flavour + "cdn: the edge holds A; a new player", self.player(None, signed), held, signed,
                         expect_version="A")
                # The edge's manifest is new, its files old: objects never are.
                held = self.addresses("A", signed, manifest=False)
                asked, hits = self.row(flavour + "cdn: the edge gives B's manifest and A's files",
                                       self.player("A", signed), held, signed)
                self.assertFalse([h for h in hits if "/game/" in h[0]], hits)
                # A player at B meets an edge's A: a signed one stays at B
                # (the kept manifest, proven again); an unsigned one takes A
                # whole, and the next start brings B.
                self.row(flavour + "cdn: a player at B meets an edge's A", self.player("B", signed),
                         self.addresses("A", signed), signed, expect_version="B" if signed else "A")
                if signed:
                    self.assertEqual(self.kept[1], self.kept[0], "the kept manifest changed")
                # An object missing at the origin: its game/ address, once.
                missing = BASE + "objects/" + md5_upper(self.versions["B"]["dir\\b.dat"])
                asked, _ = self.row(flavour + "cdn: an object missing at the origin", self.player("A", signed),
                                    signed=signed, fail_origin=[missing])
                self.assertEqual(asked.count(BASE + "game/dir/b.dat"), 1, asked)
                self.assertLess(asked.index(missing), asked.index(BASE + "game/dir/b.dat"), asked)

    @qaltest.unittest.skipUnless(UPDATER_BEFORE and SIGNED_UPDATER_BEFORE, "no updater of before in this build")
    def test_an_updater_of_before_keeps_working_from_game(self):
        for signed in (False, True):
            flavour = "signed: " if signed else ""
            before = SIGNED_UPDATER_BEFORE if signed else UPDATER_BEFORE
            with self.subTest(signed=signed):
                asked, _ = self.row(flavour + "cdn: an updater of before, B published", self.player("A", signed),
                                    signed=signed, updater=before)
                self.assertFalse([p for p in asked if "/objects/" in p], asked)
        # What objects end: game/ addresses change bytes, and an edge keeps the old ones.
        self.row("cdn: an updater of before, the edge gives B's manifest and A's game/ files",
                 self.player("A", False), self.addresses("A", False, manifest=False, objects=False),
                 updater=UPDATER_BEFORE, expect=FAILED, expect_version="A")


if __name__ == "__main__":
    qaltest.main()
