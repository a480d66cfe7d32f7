"""What qalUpdate survives, as one table: every way the manifest or a file in
the middle of a run can fail, each followed by a good run that must heal the
installation. For every case: the box and exit code, nothing written outside
game\\ (and the updater's own download\\), the player's older copy intact, no
partial file left, and after the good run every listed file matching its
digest. The table lands in the build tree as fault-matrix.md."""
import hashlib
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.environ["QAL_SOURCE_DIR"], "tests", "support"))
import qaltest  # noqa: E402

PORT = int(os.environ["QAL_TEST_HTTP_PORT"])
UPDATER = os.environ["QAL_UPDATER_EXE"]
SHORT_STALL_UPDATER = os.environ["QAL_UPDATER_SHORT_STALL_EXE"]
STUB = os.environ["QAL_STUB_CLIENT_EXE"]
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


def good_files():
    files = {MANIFEST: manifest_of([(p, md5_upper(d)) for p, d in GOOD.items()])}
    files.update({BASE + "game/" + p.replace("\\", "/"): d for p, d in GOOD.items()})
    return files


class Installation:
    def __init__(self, name, updater=UPDATER):
        self.root = qaltest.make_temp_dir("matrix-")
        self.dir = os.path.join(self.root, "Orvane Game")
        os.makedirs(os.path.join(self.dir, "game", "dir"))
        self.use(updater)
        shutil.copy(STUB, os.path.join(self.dir, "game", "PelMicroLauncher.exe"))
        with open(os.path.join(self.dir, "game", *MIDDLE.split("\\")), "wb") as f:
            f.write(OLDER)
        with open(os.path.join(self.root, "beside the installation.txt"), "wb") as f:
            f.write(b"not the updater's\n")

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

    def run_case(self, name, files, fault_path=None, mode=None, expect=FAILED, no_server=False):
        # A silent server is given up on after a few seconds, not 60.
        install = Installation(name, SHORT_STALL_UPDATER if mode == "stall" else UPDATER)
        before = install.snapshot_outside()
        if no_server:
            report = install.run()
        else:
            with qaltest.ResourceServer(port=PORT, files=files) as server:
                if fault_path:
                    server.fail(fault_path, mode)
                report = install.run()
        outcome = outcome_of(report)
        outside = changed_bytes(before, install.snapshot_outside())
        older = install.read(MIDDLE)
        older_state = "intact" if older == OLDER else ("replaced" if older == GOOD[MIDDLE] else "DAMAGED")
        partials = len(install.partials())

        install.use(UPDATER)
        with qaltest.ResourceServer(port=PORT, files=good_files()):
            healing = install.run()
        healed = (healing["exit_code"] == 0 and not healing["boxes"]
                  and all(install.read(p) == d for p, d in GOOD.items()) and not install.partials())
        self.rows.append((name, outcome, outside, older_state, partials, "yes" if healed else "NO"))

        self.assertEqual(outcome, expect, name)
        self.assertEqual(outside, 0, name)
        self.assertEqual(older_state, "replaced" if expect.endswith("/ 0") else "intact", name)
        self.assertEqual(partials, 0, name)
        self.assertTrue(healed, (name, healing))

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


if __name__ == "__main__":
    qaltest.main()
