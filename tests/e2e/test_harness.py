"""The harness itself: a message box of a real Windows program is read back exactly."""
import os
import shutil
import subprocess
import unittest

from wineenv import WineTestCase


class MessageBoxReaderTest(WineTestCase):
    def test_reads_caption_and_text_of_a_box_and_dismisses_it(self):
        # A Windows program of our own that shows one box: built by the test from C source.
        arch = os.environ.get("TOVI_ARCH", "x86_64")
        cc = ("i686" if arch.startswith("i") else "x86_64") + "-w64-mingw32-gcc"
        if not shutil.which(cc):
            self.skipTest(cc + " not installed")
        d = self.wine.tmpdir("box")
        src = os.path.join(d, "box.c")
        with open(src, "w", encoding="utf-8") as f:
            f.write('#include <windows.h>\n'
                    'int main(void){MessageBoxW(NULL,L"\\u7cfb\\u7edf line1\\nline2",L"\\u63d0\\u793a",0x10);return 7;}\n')
        exe = os.path.join(d, "box.exe")
        subprocess.run([cc, "-o", exe, src], check=True)
        running = self.wine.spawn(exe, cwd=d)
        box = self.wine.message_box(timeout=20)
        result = running.wait(30)
        self.assertEqual(box, ("提示", "系统 line1\nline2"))
        self.assertEqual(result.rc, 7)
        self.assertIsNone(self.wine.message_box(timeout=0.5))


if __name__ == "__main__":
    unittest.main()
