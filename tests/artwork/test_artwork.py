#!/usr/bin/python3
"""Checks the committed artwork files without regenerating them.

Run with:  /usr/bin/python3 -m unittest discover -s tests/artwork
"""

import os
import runpy
import types
import unittest

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "scripts", "make-artwork.py")


def load_script():
    return types.SimpleNamespace(**runpy.run_path(SCRIPT, run_name="make_artwork"))


class ArtworkTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.art = load_script()

    def test_outputs_pass_the_scripts_own_checks(self):
        try:
            self.art.verify()
        except SystemExit as e:  # verify() exits on the first failure
            self.fail(f"artwork verification failed ({e.code})")

    def test_skin_outline_is_irregular(self):
        skin = Image.open(os.path.join(self.art.LAUNCHER_RES, "skin.png")).convert("RGBA")
        alpha = skin.getchannel("A")
        hist = alpha.histogram()
        self.assertGreater(hist[0], 50000, "too little fully transparent area")
        self.assertGreater(sum(hist[1:255]), 1000, "no soft edge pixels")

    def test_buttons_are_opaque_faces(self):
        for name, (_, _, w, h) in self.art.BUTTONS.items():
            im = Image.open(os.path.join(self.art.LAUNCHER_RES, name)).convert("RGBA")
            self.assertEqual(im.size, (w, h), name)
            self.assertEqual(im.getchannel("A").getextrema(), (255, 255), name)

    def test_updater_bottom_band_is_dark(self):
        bg = Image.open(os.path.join(self.art.UPDATER_RES, "background.jpg")).convert("L")
        band = bg.crop((0, 300, 810, 340))
        mean = sum(i * n for i, n in enumerate(band.histogram())) / (810 * 40)
        self.assertLess(mean, 70, "status text area is too bright for white text")


if __name__ == "__main__":
    unittest.main()
