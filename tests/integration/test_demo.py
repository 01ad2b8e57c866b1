"""The demo as the README's main command runs it on a machine without a desktop: the page presses
its own buttons, and the receipts, the display bytes, the update and the screenshots must all be
there afterwards. Guards the demo against rotting as the programs change."""

import os
import subprocess
import sys
import tempfile
import shutil
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.environ.get("TOVI_BIN", "")
RESET = bytes([0x1B, 0x40])
PULSE = bytes([0x1B, 0x70, 0x30, 0x3C, 0x78])
CUT = bytes([0x1D, 0x56, 0x42, 0x00])


class DemoTest(unittest.TestCase):
    def setUp(self):
        for tool in ("socat", "xdotool", "import", "convert", "Xvfb"):
            if not shutil.which(tool):
                self.skipTest(tool + " is not installed")
        if not os.path.exists(os.path.join(BIN, "tovipos")):
            self.skipTest("build tovipos first (TOVI_BIN=%r)" % BIN)
        self.out = tempfile.mkdtemp(prefix="tovi-demo-test-")
        self.addCleanup(shutil.rmtree, self.out, True)

    def read(self, *parts):
        with open(os.path.join(self.out, *parts), "rb") as f:
            return f.read()

    def test_driven_demo_leaves_receipts_display_bytes_update_and_screenshots(self):
        env = dict(os.environ, TOVI_BIN=BIN)
        env.pop("DISPLAY", None)  # the demo's own Xvfb, as on a machine without a desktop
        r = subprocess.run([sys.executable, os.path.join(ROOT, "demo", "run_demo.py"), "--out", self.out,
                            "--trickle", "0.2"], env=env, capture_output=True, timeout=240)
        report = r.stdout.decode("utf-8", "replace") + r.stderr.decode("utf-8", "replace")
        for name in sorted(os.listdir(self.out)):
            if name.endswith(".log"):
                report += "\n== %s\n%s" % (name, self.read(name).decode("utf-8", "replace"))
        self.assertEqual(r.returncode, 0, report)

        folder = os.path.join(self.out, "till", "virtual_printer")
        jobs = sorted(n for n in os.listdir(folder) if n.endswith(".bin"))
        self.assertEqual(len(jobs), 4, report)
        receipt = self.read("till", "PrintOut1.txt")
        # The page bought 矿泉水 2.00, 面包 x2 6.80, 牛奶 5.50.
        self.assertIn("合计：￥21.10".encode("gb2312"), receipt)
        self.assertEqual(self.read("till", "virtual_printer", jobs[0]),
                         RESET + PULSE + receipt + b"\n" + b"\n" * 3 + CUT)
        # The picture receipt: the encoder's bytes exactly, and its picture beside it in the summary.
        raw = self.read("till", "PrintRaw1.bin")
        self.assertIn("合计：￥21.10".encode("gb2312"), raw)
        self.assertEqual(self.read("till", "virtual_printer", jobs[1]), raw)
        picture = os.path.join(folder, jobs[1][:-4] + ".png")
        self.assertIn("its picture " + picture, report)
        if shutil.which("zbarimg"):
            codes = subprocess.run(["zbarimg", "-q", picture], capture_output=True).stdout.decode()
            self.assertRegex(codes, r"QR-Code:https://pos\.example\.com/e-invoice\?no=TOVI-\d{6}\n")
        self.assertEqual(self.read("till", "virtual_printer", jobs[2]), RESET + PULSE)
        self.assertEqual(self.read("till", "virtual_printer", jobs[3]),
                         RESET + self.read("till", "RiJie.txt") + b"\n" + b"\n" * 3 + CUT)
        self.assertEqual(self.read("customer-display.bin"), b"\x1bs2\x1bQA21.10\r")
        # The page's printer line asked the virtual printer for its status.
        self.assertIn("device request toviDeviceStatus: status USB, exit code 0; result ok",
                      self.read("till", "tovipos.log").decode("utf-8"))

        # The update: the recorded version and the page files of the published release.
        self.assertRegex(self.read("till", "config.ini").decode("utf-8"), r"(?m)^version\s*=\s*\"?demo-2\"?$")
        self.assertIn("页面版本 demo-2", self.read("till", "page", "pos.html").decode("utf-8"))

        for shot in ("1-splash.png", "2-page.png", "3-after-update.png"):
            self.assertIn(os.path.join(self.out, shot), report)
            # A blank capture has one colour; the splash and the page have many.
            colours = subprocess.run(["convert", os.path.join(self.out, shot), "-format", "%k", "info:"],
                                     capture_output=True, text=True, check=True).stdout
            self.assertGreater(int(colours), 20, shot)


if __name__ == "__main__":
    unittest.main()
