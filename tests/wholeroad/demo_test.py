"""scripts/demo.py on a Wine prefix booted for it alone (the first run after a
clone): it must end well and leave a picture of each window, whole."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.environ["QAL_SOURCE_DIR"], "tests", "support"))
import qaltest  # noqa: E402


class Demo(qaltest.unittest.TestCase):
    def test_the_demo_photographs_every_step_from_a_cold_prefix(self):
        from PIL import Image
        prefix = os.environ["QAL_WINEPREFIX"]
        qaltest.remove_prefix(prefix)
        out = qaltest.make_temp_dir("demo-")
        # Signed as demo.sh signs, with the test build's updater that trusts
        # the test key.
        keys = os.environ["QAL_TEST_KEY_DIR"]
        run = subprocess.run([sys.executable, os.path.join(qaltest.SOURCE_DIR, "scripts", "demo.py"),
                              "--tree", qaltest.BUILD_DIR, "--out", out,
                              "--private-key", os.path.join(keys, "first.pem"),
                              "--public-key", os.path.join(keys, "first.pub.pem"),
                              "--updater", "updater/qalUpdate_signed.exe"],
                             capture_output=True, text=True, timeout=800)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        sizes = {"launcher.png": (1221, 739), "updater.png": (810, 340)}
        for name in ("launcher.png", "updater.png", "micro-client.png"):
            with Image.open(os.path.join(out, name)) as picture:
                if name in sizes:
                    self.assertEqual(picture.size, sizes[name], name)
                else:
                    # The client area is 720 x 320; Wine adds its frame.
                    self.assertTrue(720 <= picture.size[0] < 760 and 320 <= picture.size[1] < 380, picture.size)
                colours = len(set(picture.convert("RGB").getdata()))
                self.assertGreater(colours, 20, name)
        self.assertIn("screenshots:", run.stdout)
        qaltest.kill_prefix_processes()


if __name__ == "__main__":
    qaltest.main()
