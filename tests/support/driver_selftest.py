"""The test driver itself: exact command lines, box answers, window dumps."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qaltest  # noqa: E402


class DriverTest(qaltest.unittest.TestCase):
    def setUp(self):
        self.work = qaltest.make_temp_dir("driver-selftest-")
        self.probe = qaltest.build_path("tests", "support", "qal_box_probe.exe")
        self.out = os.path.join(self.work, "line.txt")

    def line(self, tail):
        return qaltest.quote_arg(qaltest.win_path(self.probe)) + " " + \
            qaltest.quote_arg(qaltest.win_path(self.out)) + tail

    def test_raw_command_line_and_answers(self):
        tail = ' http://h/entergame.htm?a=1 b&urlBase=http://x/ "C:\\dir with space\\qalLogin.exe"'
        report = qaltest.run_exact(self.line(tail), answers=["IDCANCEL"], dump_on_box=True)
        self.assertFalse(report["timed_out"])
        self.assertEqual(report["exit_code"], 2)  # IDCANCEL
        self.assertEqual(len(report["boxes"]), 1)
        box = report["boxes"][0]
        self.assertEqual(box["caption"], "警告")
        self.assertEqual(box["text"], "此操作将退出游戏,是否继续!")
        self.assertTrue(box["has_cancel"])
        with open(self.out, "rb") as f:
            self.assertEqual(f.read().decode("utf-16-le"), self.line(tail))
        classes = [w["class"] for d in report["dumps"] for w in d["windows"]]
        self.assertIn("#32770", classes)

    def test_unanswered_box_times_out(self):
        report = qaltest.run_exact(self.line(""), timeout_ms=3000)
        self.assertTrue(report["timed_out"])
        self.assertEqual(report["boxes"][0]["answer"], None)


if __name__ == "__main__":
    qaltest.main()
